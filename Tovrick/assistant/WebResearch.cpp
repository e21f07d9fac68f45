#include "Tovrick/assistant/WebResearch.h"

#include <QRegularExpression>
#include <QSet>

#include "Tovrick/focus/FocusAPI.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Text.h"

namespace {

constexpr int kMaximumParagraphs = 4;
constexpr std::size_t kMaximumSources = 5;

const QString& instructionsText()
{
    static const QString text = QStringLiteral(
        "Research the question on the web and write a short, friendly report for a busy person. First line: a plain "
        "title of under eight words. Then one to four short paragraphs (four at most), leading with the direct answer, "
        "then the most useful details. Plain text only: no markdown, no headings, no bullet lists, and no links or "
        "citations in the text.");
    return text;
}

// A member as a list; anything else reads as an empty one.
const Json::array_t& listAt(const Json& object, const char* key)
{
    static const Json::array_t empty;
    if (!object.is_object())
        return empty;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_array())
        return empty;
    return it->get_ref<const Json::array_t&>();
}

std::optional<QString> stringAt(const Json& object, const char* key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string())
        return std::nullopt;
    return json::toQString(it->get<std::string>());
}

// The model writes markdown despite being asked not to; the card shows plain text.
QString cleaned(QString answer)
{
    // \s is Unicode-aware, so a no-break space before a citation goes with it.
    const auto options = QRegularExpression::UseUnicodePropertiesOption;
    static const QRegularExpression parenthesisedLink(QStringLiteral(R"(\s*\(\[[^\]]*\]\([^)]*\)\))"), options);
    static const QRegularExpression link(QStringLiteral(R"(\[([^\]]*)\]\([^)]*\))"), options);
    static const QRegularExpression bracketedAddress(QStringLiteral(R"(\s*\[https?://[^\]]*\])"), options);
    answer.remove(parenthesisedLink);
    answer.replace(link, QStringLiteral("\\1"));
    answer.remove(bracketedAddress);
    answer.remove(QStringLiteral("**"));
    answer.remove(QLatin1Char('#'));
    return answer;
}

} // namespace

QString ResearchReport::text() const
{
    QStringList parts {title};
    parts << paragraphs;
    return parts.join(QStringLiteral("\n\n"));
}

namespace WebResearch {

ResearchError::ResearchError(const QString& detail)
    : UserFacingError(QStringLiteral("The research didn't come back: ") + text::prefixCharacters(detail, 160)),
      m_detail(detail)
{
}

Json requestBody(const QString& question, const std::optional<QString>& screenContext)
{
    QString input = question;
    if (screenContext && !screenContext->isEmpty())
        input += QStringLiteral("\n\nWhat's on the user's screen, for context: ") + *screenContext;
    Json body = Json::object();
    body["model"] = "gpt-6-luna";
    body["reasoning"] = {{"effort", "low"}};
    body["tools"] = Json::array({{{"type", "web_search"}}});
    body["instructions"] = json::fromQString(instructionsText());
    body["input"] = json::fromQString(input);
    return body;
}

QCoro::Task<ResearchReport> research(QString question, std::optional<QString> screenContext)
{
    const Json body = requestBody(question, screenContext);
    const QString path = QStringLiteral("responses");
    QByteArray answer;
    std::exception_ptr failure;
    try {
        TovrickAccount& account = TovrickAccount::shared();
        auto request = account.aiRequest(path, body, timeoutSeconds);
        answer = co_await std::move(request);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure)
        throw FocusAPI::Failure(describeError(failure, QStringLiteral("The research request failed.")));
    co_return parseResponse(answer, question);
}

QString withoutTrackingQuery(const QString& url)
{
    const qsizetype mark = url.indexOf(QLatin1Char('?'));
    if (mark < 0)
        return url;
    qsizetype end = url.indexOf(QLatin1Char('#'), mark);
    if (end < 0)
        end = url.size();
    QStringList kept;
    for (const QString& item : url.mid(mark + 1, end - mark - 1).split(QLatin1Char('&'))) {
        const QString name = item.section(QLatin1Char('='), 0, 0);
        if (QUrl::fromPercentEncoding(name.toUtf8()) != QLatin1String("utm_source"))
            kept << item;
    }
    const QString query = kept.isEmpty() ? QString() : QLatin1Char('?') + kept.join(QLatin1Char('&'));
    return url.left(mark) + query + url.mid(end);
}

ResearchReport parseResponse(const QByteArray& body, const QString& question)
{
    const Json document = json::parse(body);
    if (!document.is_object())
        throw ResearchError(QStringLiteral("Invalid research response"));

    QString answer;
    ResearchReport report;
    report.question = question;
    QSet<QString> cited;
    for (const Json& item : listAt(document, "output")) {
        if (stringAt(item, "type") != QStringLiteral("message"))
            continue;
        for (const Json& part : listAt(item, "content")) {
            answer += stringAt(part, "text").value_or(QString());
            for (const Json& annotation : listAt(part, "annotations")) {
                const std::optional<QString> raw = stringAt(annotation, "url");
                if (!raw)
                    continue;
                const QString address
                    = QUrl(*raw, QUrl::StrictMode).isValid() ? withoutTrackingQuery(*raw) : *raw;
                const QUrl url(address, QUrl::StrictMode);
                if (address.isEmpty() || !url.isValid() || cited.contains(address))
                    continue;
                cited.insert(address);
                QString title = stringAt(annotation, "title").value_or(QString());
                if (!stringAt(annotation, "title")) {
                    const QString host = url.host(QUrl::FullyEncoded);
                    title = host.isEmpty() ? *raw : host;
                }
                report.sources.push_back({title, url});
            }
        }
    }

    QStringList lines;
    for (const QString& line : cleaned(answer).split(QLatin1Char('\n'))) {
        const QString trimmed = text::trimmedSpacesAndTabs(line);
        if (!trimmed.isEmpty())
            lines << trimmed;
    }
    if (lines.isEmpty())
        throw ResearchError(QStringLiteral("empty answer"));
    report.title = lines.front();
    report.paragraphs = lines.mid(1, kMaximumParagraphs);
    if (report.sources.size() > kMaximumSources)
        report.sources.resize(kMaximumSources);
    return report;
}

} // namespace WebResearch
