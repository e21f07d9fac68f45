#include "Tovrick/assistant/HostTools.h"

#include <QSet>

#include <algorithm>
#include <charconv>
#include <cmath>

#include "Tovrick/assistant/HostPointing.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/screen/ScreenReader.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Text.h"

namespace toolargs {

std::optional<QString> text(const Json& arguments, const char* key)
{
    const auto found = arguments.find(key);
    if (found == arguments.end() || !found->is_string())
        return std::nullopt;
    return json::toQString(found->get<std::string>());
}

std::optional<double> number(const Json& arguments, const char* key)
{
    const auto found = arguments.find(key);
    if (found == arguments.end())
        return std::nullopt;
    double value = 0;
    if (found->is_number()) {
        value = found->get<double>();
    } else if (found->is_string()) {
        const std::string& written = found->get_ref<const std::string&>();
        const char* end = written.data() + written.size();
        const auto [stop, error] = std::from_chars(written.data(), end, value);
        if (written.empty() || error != std::errc() || stop != end)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(value))
        return std::nullopt;
    return value;
}

Json parse(const QString& arguments)
{
    try {
        Json parsed = json::parse(arguments.toUtf8());
        if (parsed.is_object())
            return parsed;
    } catch (const JsonDecodeError&) {
    }
    return Json::object();
}

} // namespace toolargs

namespace {

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

} // namespace

HostTools::HostTools(std::shared_ptr<HostPointing> pointing, CodexController& codex, Ports ports)
    : m_pointing(std::move(pointing)), m_codex(codex), m_ports(std::move(ports))
{
    if (!m_ports.screen)
        m_ports.screen = std::make_shared<ScreenReader>();
    if (!m_ports.signedIn)
        m_ports.signedIn = [] { return TovrickAccount::shared().isSignedIn(); };
    if (!m_ports.focus)
        m_ports.focus = [] { return static_cast<FocusCompanion*>(nullptr); };
    if (!m_ports.research)
        m_ports.research = [](QString, std::optional<QString>) -> QCoro::Task<QString> {
            co_return researchUnavailable();
        };
    if (!m_ports.computerControl)
        m_ports.computerControl = [](QString, Json, CancelToken) -> QCoro::Task<ToolResult> {
            co_return ToolResult {computerControlUnavailable(), std::nullopt};
        };
}

bool HostTools::isComputerControl(const QString& name)
{
    static const QSet<QString> names {QStringLiteral("click"),    QStringLiteral("type_text"),
                                      QStringLiteral("press_keys"), QStringLiteral("scroll"),
                                      QStringLiteral("drag"),     QStringLiteral("open_app"),
                                      QStringLiteral("open_url")};
    return names.contains(name);
}

QString HostTools::researchUnavailable()
{
    return QStringLiteral("Research isn't available on this computer.");
}

QString HostTools::computerControlUnavailable()
{
    return QStringLiteral("Computer control isn't available on this computer.");
}

QCoro::Task<ToolResult> HostTools::handleToolCall(QString name, QString arguments, CancelToken cancel)
{
    if (!m_ports.signedIn() || cancel.isCancelled())
        co_return ToolResult {QStringLiteral("Sign in to Tovrick to use local tools."), std::nullopt};
    Json parsed = toolargs::parse(arguments);

    if (isComputerControl(name)) {
        auto acting = m_ports.computerControl(name, std::move(parsed), cancel);
        co_return co_await std::move(acting);
    }
    const auto answer = [](const QString& text) { return ToolResult {text, std::nullopt}; };
    FocusCompanion* focus = m_ports.focus();
    const QString focusUnavailable = QStringLiteral("Focus unavailable.");

    if (name == QLatin1String("look_at_screen")) {
        auto looking = lookAtScreen(std::nullopt);
        co_return co_await std::move(looking);
    }
    if (name == QLatin1String("point_at"))
        co_return answer(pointAt(parsed));
    if (name == QLatin1String("point_at_spot"))
        co_return answer(pointAtSpot(parsed));
    if (name == QLatin1String("stop_pointing")) {
        m_pointing->stopPointing();
        co_return answer(QStringLiteral("Your cursor will head home once you finish talking."));
    }
    if (name == QLatin1String("web_research")) {
        auto researching = webResearch(std::move(parsed));
        QString result = co_await std::move(researching);
        co_return answer(result);
    }
    if (name == QLatin1String("focus_start"))
        co_return answer(focusStart(parsed));
    if (name == QLatin1String("focus_pause"))
        co_return answer(focus ? focus->pause(QStringLiteral("Paused")) : focusUnavailable);
    if (name == QLatin1String("focus_resume"))
        co_return answer(focus ? focus->resume() : focusUnavailable);
    if (name == QLatin1String("focus_end"))
        co_return answer(focus ? focus->end() : focusUnavailable);
    if (name == QLatin1String("focus_status"))
        co_return answer(focusStatus());
    if (name == QLatin1String("codex_start"))
        co_return answer(m_codex.startJob(toolargs::text(parsed, "project"),
                                          toolargs::text(parsed, "prompt").value_or(QString())));
    if (name == QLatin1String("codex_follow_up")) {
        std::optional<QString> job = toolargs::text(parsed, "job");
        QString message = toolargs::text(parsed, "message").value_or(QString());
        auto following = m_codex.followUp(std::move(job), std::move(message));
        QString result = co_await std::move(following);
        co_return answer(result);
    }
    if (name == QLatin1String("codex_status"))
        co_return answer(m_codex.statusText());
    if (name == QLatin1String("codex_stop")) {
        std::optional<QString> job = toolargs::text(parsed, "job");
        auto stopping = m_codex.stop(std::move(job));
        QString result = co_await std::move(stopping);
        co_return answer(result);
    }
    if (name == QLatin1String("codex_open"))
        co_return answer(m_codex.openInApp(toolargs::text(parsed, "job")));
    if (name == QLatin1String("go_to_sleep"))
        co_return answer(QStringLiteral("Going to sleep. Say a very short goodbye."));
    co_return answer(QStringLiteral("Unknown tool ") + name + QLatin1Char('.'));
}

QCoro::Task<ToolResult> HostTools::lookAtScreen(std::optional<QString> sentence)
{
    std::shared_ptr<SnapshotSource> screen = m_ports.screen;
    std::shared_ptr<HostPointing> pointing = m_pointing;
    auto looking = lookAtScreen(std::move(screen), std::move(pointing), std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<ToolResult> HostTools::lookAtScreen(std::shared_ptr<SnapshotSource> screen,
                                                std::shared_ptr<HostPointing> pointing, std::optional<QString> sentence)
{
    std::optional<ScreenSnapshot> reading;
    std::exception_ptr failure;
    try {
        auto capturing = screen->snapshot();
        reading = co_await std::move(capturing);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure || !reading)
        co_return ToolResult {HostPointing::screenCaptureError(failure, sentence), std::nullopt};
    auto [text, image] = pointing->screenContext(std::move(*reading), sentence);
    co_return ToolResult {std::move(text), std::move(image)};
}

QString HostTools::pointAt(const Json& arguments)
{
    const QString id = text::trimmedSpacesAndTabs(toolargs::text(arguments, "target_id").value_or(QString()));
    const std::optional<ScreenSnapshot>& snapshot = m_pointing->snapshot();
    if (!snapshot)
        return QStringLiteral("Call look_at_screen first.");
    const std::optional<Target> target = snapshot->target(id);
    if (!target)
        return QStringLiteral("No target ") + id + QStringLiteral(". Use an id from the last look_at_screen.");
    m_pointing->pointAt(HostPointing::Spot {HostPointing::pointBelow(target->rect), target->rect});
    if (m_pointing->queue().size() < 2)
        return QStringLiteral("Pointing at ") + quoted(target->text) + QLatin1Char('.');
    return QStringLiteral("Queued: your cursor will point at \"") + target->text
        + QStringLiteral("\" after the earlier spots.");
}

QString HostTools::pointAtSpot(const Json& arguments)
{
    const std::optional<double> x = toolargs::number(arguments, "x");
    const std::optional<double> y = toolargs::number(arguments, "y");
    if (!x || !y)
        return QStringLiteral("Give x and y.");
    const QPointF point = m_pointing->gridToScreen(*x, *y);
    m_pointing->pointAt(HostPointing::Spot {point, QRectF(point - QPointF(16, 16), QSizeF(32, 32))});
    return QStringLiteral("Pointing there.");
}

QCoro::Task<QString> HostTools::webResearch(Json arguments)
{
    const QString question = text::trimmedWhitespaceAndNewlines(toolargs::text(arguments, "question").value_or(QString()));
    if (question.isEmpty())
        co_return QStringLiteral("What should I research?");
    std::optional<QString> context;
    if (const std::optional<ScreenSnapshot>& snapshot = m_pointing->snapshot()) {
        QStringList lines;
        for (qsizetype i = 0; i < std::min<qsizetype>(snapshot->lines.size(), 40); ++i)
            lines << snapshot->lines[i].text;
        context = lines.join(QStringLiteral(" / "));
    }
    Researcher research = m_ports.research;
    auto researching = research(question, std::move(context));
    QString result = co_await std::move(researching);
    co_return result;
}

QString HostTools::focusStart(const Json& arguments)
{
    FocusCompanion* focus = m_ports.focus();
    if (!focus)
        return QStringLiteral("Focus is unavailable.");
    const QString task = toolargs::text(arguments, "task").value_or(QString());
    double minutes = 30;
    // Only a JSON number: a numeric string keeps the default here.
    if (const auto found = arguments.find("minutes"); found != arguments.end() && found->is_number())
        minutes = found->get<double>();
    return focus->start(task, true, minutes);
}

QString HostTools::focusStatus() const
{
    const FocusCompanion* focus = m_ports.focus();
    if (!focus || !focus->current())
        return QStringLiteral("No focus session yet.");
    const FocusSession& session = *focus->current();
    return QStringLiteral("Task: ") + session.task + QStringLiteral(". ") + focusStatusText(session.status)
        + QStringLiteral(", ") + FocusSession::clock(std::max(session.duration - session.elapsed, 0.0))
        + QStringLiteral(" remaining. ") + session.detail;
}
