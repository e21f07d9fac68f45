#include <gtest/gtest.h>

#include <QFile>

#include "Tovrick/assistant/WebResearch.h"
#include "Tovrick/focus/FocusAPI.h"
#include "shared/account/TovrickAccount.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

namespace {

QByteArray fixture(const char* name)
{
    QFile file(QStringLiteral(TOVRICK_ASSISTANT_DATA "/") + QString::fromLatin1(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name;
    return file.readAll();
}

// An answer holding one message whose text parts are `texts`.
QByteArray answerOf(std::initializer_list<const char*> texts, Json annotations = Json::array())
{
    Json content = Json::array();
    for (const char* text : texts)
        content.push_back({{"type", "output_text"}, {"text", text}, {"annotations", annotations}});
    return json::dumpBytes({{"output", Json::array({{{"type", "message"}, {"content", content}}})}});
}

QString failureOf(const QByteArray& body)
{
    try {
        WebResearch::parseResponse(body, QStringLiteral("q"));
    } catch (const UserFacingError& error) {
        return error.description();
    } catch (const JsonDecodeError&) {
        return QStringLiteral("not JSON");
    }
    return QStringLiteral("no failure");
}

} // namespace

TEST(WebResearch, TheAnswerIsCleanedAndItsSourcesCollected)
{
    const ResearchReport report = WebResearch::parseResponse(fixture("research-answer.json"), QStringLiteral("Why?"));
    EXPECT_EQ(report.question, QStringLiteral("Why?"));
    EXPECT_EQ(report.title, QStringLiteral("Bonjour"));
    EXPECT_EQ(report.paragraphs,
              QStringList({QStringLiteral("It finds printers and speakers on the local network."),
                           QStringLiteral("See the guide for setup"), QStringLiteral("Line three"),
                           QStringLiteral("Line four")}));
    const std::vector<ResearchReport::Source> expected {
        {QStringLiteral("Bonjour - Apple Developer"), QUrl(QStringLiteral("https://developer.apple.com/bonjour/"))},
        {QStringLiteral("example.org"), QUrl(QStringLiteral("https://example.org/guide?page=2#part"))},
        {QStringLiteral("Script"), QUrl(QStringLiteral("javascript:alert(1)"))},
        {QStringLiteral("a.example"), QUrl(QStringLiteral("https://a.example/1"))},
        {QStringLiteral("a.example"), QUrl(QStringLiteral("https://a.example/2"))},
    };
    EXPECT_EQ(report.sources, expected);
    EXPECT_EQ(report.text(), QStringLiteral("Bonjour\n\nIt finds printers and speakers on the local network.\n\nSee the "
                                            "guide for setup\n\nLine three\n\nLine four"));
}

TEST(WebResearch, EachCleaningRuleOnItsOwn)
{
    struct Case {
        const char* text;
        QStringList lines; // title, then paragraphs
    };
    const Case cases[] = {
        {"Title\nA sentence ([site](https://x.y/z)).", {QStringLiteral("Title"), QStringLiteral("A sentence.")}},
        // A no-break space before the citation is white space too.
        {"T\nWord\u00a0([s](https://x.y)) end", {QStringLiteral("T"), QStringLiteral("Word end")}},
        {"T\nRead [the label](https://x.y) here", {QStringLiteral("T"), QStringLiteral("Read the label here")}},
        {"T\nSee   [https://x.y/a b] now", {QStringLiteral("T"), QStringLiteral("See now")}},
        {"T\n[ftp://x.y] stays", {QStringLiteral("T"), QStringLiteral("[ftp://x.y] stays")}},
        {"T\nC# and **bold** and #tag", {QStringLiteral("T"), QStringLiteral("C and bold and tag")}},
        // Lines split only at line feeds and lose only spaces and tabs.
        {"\t Title \t\r\n next", {QStringLiteral("Title \t\r"), QStringLiteral("next")}},
        {"T\n\u2003wide\u2003\u2028", {QStringLiteral("T"), QStringLiteral("wide\u2003\u2028")}},
        {"Only a title", {QStringLiteral("Only a title")}},
        {"1\n\n2\n   \n3\n4\n5\n6\n7", {QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
                                        QStringLiteral("4"), QStringLiteral("5")}},
    };
    for (const Case& c : cases) {
        const ResearchReport report = WebResearch::parseResponse(answerOf({c.text}), QStringLiteral("q"));
        EXPECT_EQ(QStringList({report.title}) + report.paragraphs, c.lines) << c.text;
    }
    // Parts and messages join with nothing between them.
    const ResearchReport joined = WebResearch::parseResponse(answerOf({"Ti", "tle\nbody"}), QStringLiteral("q"));
    EXPECT_EQ(joined.title, QStringLiteral("Title"));
}

TEST(WebResearch, SourceAddressesLoseOnlyTheirTrackingItems)
{
    const struct {
        const char* url;
        const char* cleaned;
    } cases[] = {
        {"https://a.b/p?utm_source=openai", "https://a.b/p"},
        {"https://a.b/p?x=1&utm_source=openai&y=2", "https://a.b/p?x=1&y=2"},
        {"https://a.b/p?utm_source=a&utm_source=b#frag", "https://a.b/p#frag"},
        {"https://a.b/p?utm_sourcex=1&utm_medium=2", "https://a.b/p?utm_sourcex=1&utm_medium=2"},
        {"https://a.b/p?q=%20a+b&utm_source", "https://a.b/p?q=%20a+b"},
        {"https://a.b/p", "https://a.b/p"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(WebResearch::withoutTrackingQuery(QString::fromUtf8(c.url)), QString::fromUtf8(c.cleaned)) << c.url;

    // Duplicates go by the cleaned address; the first title stays; at most five.
    Json annotations = Json::array({{{"url", "https://a.b/p?utm_source=x"}, {"title", "first"}},
                                    {{"url", "https://a.b/p"}, {"title", "second"}}});
    for (int i = 0; i < 7; ++i)
        annotations.push_back({{"url", "https://c.d/" + std::to_string(i)}});
    const ResearchReport report = WebResearch::parseResponse(answerOf({"T"}, annotations), QStringLiteral("q"));
    ASSERT_EQ(report.sources.size(), 5u);
    EXPECT_EQ(report.sources[0].title, QStringLiteral("first"));
    EXPECT_EQ(report.sources[0].url.toString(), QStringLiteral("https://a.b/p"));
    EXPECT_EQ(report.sources[4].url.toString(), QStringLiteral("https://c.d/3"));
}

TEST(WebResearch, UnreadableAnswersFailWithTheirSentence)
{
    const QString invalid = QStringLiteral("The research didn't come back: Invalid research response");
    const QString empty = QStringLiteral("The research didn't come back: empty answer");
    const struct {
        QByteArray body;
        QString failure;
    } cases[] = {
        {"not json", QStringLiteral("not JSON")},
        {"[1,2]", invalid},
        {"\"text\"", invalid},
        {"{}", empty},
        {R"({"output":{"type":"message"}})", empty},
        {answerOf({"  \n # ** \n\t#"}), empty},
        {answerOf({}), empty},
        {R"({"output":[{"type":"reasoning","content":[{"text":"hidden"}]}]})", empty},
    };
    for (const auto& c : cases)
        EXPECT_EQ(failureOf(c.body), c.failure) << c.body.toStdString();
    EXPECT_EQ(WebResearch::ResearchError(QString(200, QLatin1Char('x'))).description().size(), 31 + 160);
}

TEST(WebResearch, TheRequestGoesThroughTheAccountAndItsFailuresBecomeFocusFailures)
{
    LoopbackApi api;
    signInForTests(api);
    api.answerOnce(QStringLiteral("ai/responses"), LoopbackAnswer::raw(fixture("research-answer.json"), 200,
                                                                      "application/json"));
    const ResearchReport report = runTask(WebResearch::research(QStringLiteral("What is Bonjour?"), QString()));
    EXPECT_EQ(report.title, QStringLiteral("Bonjour"));
    const Json sent = api.lastRequest(QStringLiteral("ai/responses"))->json().at("body");
    EXPECT_EQ(sent.at("model"), "gpt-6-luna");
    EXPECT_EQ(sent.at("reasoning"), Json({{"effort", "low"}}));
    EXPECT_EQ(sent.at("tools"), Json::parse(R"([{"type":"web_search"}])"));
    EXPECT_EQ(sent.at("input"), "What is Bonjour?");
    EXPECT_TRUE(sent.at("instructions").get<std::string>().starts_with("Research the question on the web"));
    std::vector<std::string> keys;
    for (const auto& [key, value] : sent.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string> {"model", "reasoning", "tools", "instructions", "input"}));

    runTask(WebResearch::research(QStringLiteral("Q"), QStringLiteral("Mail / Inbox")));
    EXPECT_EQ(api.lastRequest(QStringLiteral("ai/responses"))->json().at("body").at("input"),
              "Q\n\nWhat's on the user's screen, for context: Mail / Inbox");

    api.answerOnce(QStringLiteral("ai/responses"), LoopbackAnswer::error(QStringLiteral("rate_limited"), 429));
    try {
        runTask(WebResearch::research(QStringLiteral("Q"), std::nullopt));
        ADD_FAILURE() << "a failed request gave a report";
    } catch (const FocusAPI::Failure& failure) {
        EXPECT_FALSE(failure.message().isEmpty());
    }
    TovrickAccount::shared().clearSession();
    EXPECT_THROW(runTask(WebResearch::research(QStringLiteral("Q"), std::nullopt)), FocusAPI::Failure);
}
