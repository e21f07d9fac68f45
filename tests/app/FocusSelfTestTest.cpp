#include <gtest/gtest.h>

#include <map>

#include "Tovrick/FocusSelfTest.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

namespace {

Json decision(const QString& choice, double offTask)
{
    const double rest = (1.0 - offTask) / 2;
    auto entry = [](const char* value, double probability) {
        return Json { { "value", value }, { "probability", probability } };
    };
    return Json { { "answers",
                    Json::array({ { { "name", "activity" },
                                    { "type", "choice" },
                                    { "choice", json::fromQString(choice) },
                                    { "confidence", 0.9 },
                                    { "probabilities",
                                      Json::array({ entry("on_task", rest), entry("off_task", offTask),
                                                    entry("uncertain", rest) }) } } }) } };
}

Json researchAnswer(const QString& text, const Json& annotations)
{
    return Json { { "output",
                    Json::array({ { { "type", "message" },
                                    { "content",
                                      Json::array({ { { "type", "output_text" },
                                                      { "text", json::fromQString(text) },
                                                      { "annotations", annotations } } }) } } }) } };
}

const Json kCitation = Json::array(
    { { { "type", "url_citation" }, { "url", "https://developer.apple.com/bonjour/?utm_source=openai" }, { "title", "Bonjour" } } });

// The product API as the judge checks meet it: a verdict per task, and the three kinds of
// "responses" request (nudge, news line, research) told apart by their bodies.
struct ScriptedApi {
    LoopbackApi api;
    std::map<QString, Json> verdicts; // by task; on_task (P(off) 0.05) otherwise
    LoopbackAnswer nudge = LoopbackAnswer::json(LoopbackApi::responseAnswer(
        QStringLiteral(R"({"message":"The expense report is waiting.","target_id":null,"target_quote":null})")));
    LoopbackAnswer news = LoopbackAnswer::json(LoopbackApi::responseAnswer(QStringLiteral("Both builds shipped and all 22 tests passed.")));
    LoopbackAnswer research = LoopbackAnswer::json(researchAnswer(
        QStringLiteral("Bonjour on the local network\nBonjour finds printers and services.\nIt uses multicast DNS."), kCitation));
    std::map<QString, int> responses; // requests by kind

    ScriptedApi()
    {
        signInForTests(api);
        verdicts[QStringLiteral("Prepare the monthly business expense report")] = decision(QStringLiteral("off_task"), 0.9);
        verdicts[QStringLiteral("Work on the Tovrick app inside the Codex app")] = decision(QStringLiteral("off_task"), 0.9);
        api.handle(QStringLiteral("ai/decisions"), [this](const RecordedRequest& request) {
            for (const auto& [task, answer] : verdicts)
                if (request.body.contains(task.toUtf8()))
                    return LoopbackAnswer::json(answer);
            return LoopbackAnswer::json(LoopbackApi::decisionAnswer());
        });
        api.handle(QStringLiteral("ai/responses"), [this](const RecordedRequest& request) {
            const Json body = request.json()["body"];
            const QString kind = body.contains("tools") ? QStringLiteral("research")
                : body.contains("text")                 ? QStringLiteral("nudge")
                                                        : QStringLiteral("news");
            ++responses[kind];
            return kind == QLatin1String("research") ? research : kind == QLatin1String("nudge") ? nudge : news;
        });
    }

    struct Run {
        int status = -1;
        QStringList lines;
    };
    Run run(bool desktop = false, SnapshotSource* screen = nullptr, ScreenCaptureAccess* access = nullptr)
    {
        Run result;
        FocusSelfTest::Options options;
        options.print = [&result](const QString& line) { result.lines << line; };
        options.screen = screen;
        options.access = access;
        result.status = runTask(runFocusAPILiveTest(desktop, options), std::chrono::seconds(60));
        return result;
    }

    QString decisionInput(const QString& task) const
    {
        for (const RecordedRequest& request : api.requests(QStringLiteral("ai/decisions")))
            if (request.body.contains(task.toUtf8()))
                return QString::fromStdString(request.json()["body"].dump());
        return {};
    }
};

const QString kResearchLine = QStringLiteral(
    "LIVE web research: Bonjour on the local network\n\nBonjour finds printers and services.\n\nIt uses multicast DNS.");

class FixedScreen : public SnapshotSource {
public:
    QCoro::Task<ScreenSnapshot> snapshot() override
    {
        ++readings;
        if (failure)
            throw *failure;
        ScreenSnapshot reading;
        reading.jpeg = QByteArray("\xff\xd8jpeg", 6);
        reading.size = QSizeF(1920, 1080);
        co_return reading;
    }
    int readings = 0;
    std::optional<ScreenReaderError> failure;
};

} // namespace

TEST(FocusSelfTest, PassingRunPrintsEveryLineInOrder)
{
    ScriptedApi api;
    const auto run = api.run();
    EXPECT_EQ(run.status, 0);
    const QStringList expected {
        QStringLiteral("LIVE synthetic fixture supporting_tutorial: on_task, P(off)=0.05, confidence=0.9"),
        QStringLiteral("LIVE synthetic fixture unrelated_entertainment: off_task, P(off)=0.9, confidence=0.9"),
        QStringLiteral("LIVE Responses nudge: The expense report is waiting.; target=none"),
        QStringLiteral("LIVE synthetic fixture twitter_unrelated: off_task, P(off)=0.9, confidence=0.9"),
        QStringLiteral("LIVE synthetic fixture twitter_research: on_task, P(off)=0.05, confidence=0.9"),
        QStringLiteral("LIVE Codex status line: Both builds shipped and all 22 tests passed."),
        kResearchLine,
        QStringLiteral("LIVE web research sources: https://developer.apple.com/bonjour/"),
    };
    EXPECT_EQ(run.lines, expected);

    // The feed screens reach the judge as read text from a browser; the others as a picture alone.
    const QString feed = api.decisionInput(QStringLiteral("Work on the Tovrick app inside the Codex app"));
    EXPECT_TRUE(feed.contains(QStringLiteral("Frontmost app (untrusted data): Safari"))) << feed.toStdString();
    EXPECT_TRUE(feed.contains(QStringLiteral("football"), Qt::CaseInsensitive)) << feed.toStdString();
    EXPECT_TRUE(feed.contains(QStringLiteral("Idle duration: 120 real seconds.")));
    const QString tutorial = api.decisionInput(QStringLiteral("Make a video teaching Codex"));
    EXPECT_TRUE(tutorial.contains(QStringLiteral("Frontmost app (untrusted data): unknown")));
    EXPECT_FALSE(tutorial.contains(QStringLiteral("TUTORIAL")));
    EXPECT_TRUE(tutorial.contains(QStringLiteral("data:image/jpeg;base64,")));
}

TEST(FocusSelfTest, OnlyTheFeedFixturesHaveAVerdictToMeet)
{
    const struct {
        const char* task;
        const char* choice;
        double offTask;
        int status;
        int decisions; // judged before the run ended
        const char* lastFixtureLine;
    } cases[] = {
        { "Work on the Tovrick app inside the Codex app", "off_task", 0.49, 1, 3,
          "LIVE synthetic fixture twitter_unrelated: off_task, P(off)=0.49, confidence=0.9" },
        { "Work on the Tovrick app inside the Codex app", "off_task", 0.5, 0, 4, nullptr },
        { "Work on the Tovrick app inside the Codex app", "uncertain", 0.9, 1, 3,
          "LIVE synthetic fixture twitter_unrelated: uncertain, P(off)=0.9, confidence=0.9" },
        { "Fix Bonjour pairing in the Tovrick SwiftUI app", "uncertain", 0.2, 1, 4,
          "LIVE synthetic fixture twitter_research: uncertain, P(off)=0.2, confidence=0.9" },
        { "Make a video teaching Codex", "off_task", 1.0, 0, 4,
          "LIVE synthetic fixture supporting_tutorial: off_task, P(off)=1.0, confidence=0.9" },
        { "Prepare the monthly business expense report", "on_task", 0.0, 0, 4,
          "LIVE synthetic fixture unrelated_entertainment: on_task, P(off)=0.0, confidence=0.9" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.task) + " " + c.choice + " " + std::to_string(c.offTask));
        ScriptedApi api;
        api.verdicts[QString::fromLatin1(c.task)] = decision(QString::fromLatin1(c.choice), c.offTask);
        const auto run = api.run();
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(api.api.requestCount(QStringLiteral("ai/decisions")), c.decisions);
        if (c.lastFixtureLine) {
            EXPECT_TRUE(run.lines.contains(QString::fromLatin1(c.lastFixtureLine))) << run.lines.join('\n').toStdString();
        }
        if (c.status != 0) {
            // A wrong verdict has no line of its own: its fixture line is the last.
            ASSERT_FALSE(run.lines.isEmpty());
            EXPECT_TRUE(run.lines.last().startsWith(QStringLiteral("LIVE synthetic fixture twitter_")));
            EXPECT_EQ(api.responses[QStringLiteral("news")], 0);
        }
    }
}

TEST(FocusSelfTest, NewsLineMustBeShorterThanSixteenWords)
{
    const struct {
        const char* text;
        bool passes;
    } cases[] = {
        { "one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen", true },
        { "one two three four five six seven eight nine ten eleven twelve thirteen fourteen fifteen sixteen", false },
        { "  one\ttwo  three\nfour five six seven eight nine ten eleven twelve thirteen fourteen fifteen ", true },
        { "", false },
        { "\"\"", false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ScriptedApi api;
        api.news = LoopbackAnswer::json(LoopbackApi::responseAnswer(QString::fromLatin1(c.text)));
        const auto run = api.run();
        EXPECT_EQ(run.status, c.passes ? 0 : 1);
        EXPECT_EQ(api.responses[QStringLiteral("research")], c.passes ? 1 : 0);
        if (!c.passes) {
            EXPECT_EQ(run.lines.last(), QStringLiteral("LIVE Codex status line: missing or too long"));
        }
    }
}

TEST(FocusSelfTest, ResearchNeedsParagraphsAndSources)
{
    const struct {
        LoopbackAnswer answer;
        const char* line;
    } cases[] = {
        { LoopbackAnswer::json(researchAnswer(QStringLiteral("Bonjour\nIt finds services."), Json::array())),
          "LIVE web research: missing report or sources" },
        { LoopbackAnswer::json(researchAnswer(QStringLiteral("Only a title"), kCitation)),
          "LIVE web research: missing report or sources" },
        { LoopbackAnswer::error(QStringLiteral("upstream_failed"), 502), "LIVE web research failed: " },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptedApi api;
        api.research = c.answer;
        const auto run = api.run();
        EXPECT_EQ(run.status, 1);
        ASSERT_EQ(run.lines.size(), 7);
        EXPECT_TRUE(run.lines.last().startsWith(QString::fromLatin1(c.line))) << run.lines.last().toStdString();
        EXPECT_EQ(api.responses[QStringLiteral("research")], 1);
    }
}

TEST(FocusSelfTest, AFailedRequestEndsTheRunWithOneLine)
{
    ScriptedApi judge;
    judge.api.handle(QStringLiteral("ai/decisions"),
                     [](const RecordedRequest&) { return LoopbackAnswer::error(QStringLiteral("rate_limited"), 429); });
    auto run = judge.run();
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 1);
    EXPECT_TRUE(run.lines[0].startsWith(QStringLiteral("LIVE API unavailable: "))) << run.lines[0].toStdString();
    EXPECT_GT(run.lines[0].size(), QStringLiteral("LIVE API unavailable: ").size());
    EXPECT_EQ(judge.api.requestCount(QStringLiteral("ai/decisions")), 1);
    EXPECT_EQ(judge.api.requestCount(QStringLiteral("ai/responses")), 0);

    ScriptedApi nudge;
    nudge.nudge = LoopbackAnswer::json(LoopbackApi::responseAnswer(
        QStringLiteral(R"({"message":"","target_id":null,"target_quote":null})")));
    run = nudge.run();
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 3);
    EXPECT_EQ(run.lines[2], QStringLiteral("LIVE API unavailable: Couldn't prepare a nudge."));
    EXPECT_EQ(nudge.api.requestCount(QStringLiteral("ai/decisions")), 2);
}

TEST(FocusSelfTest, DesktopRunNeedsScreenAccessBeforeAnyCapture)
{
    ScriptedApi api;
    FixedScreen screen;
    ScreenCaptureAccess declined;
    declined.testCapture = []() -> QCoro::Task<void> {
        throw ScreenReaderError::declined();
        co_return;
    };
    auto run = api.run(true, &screen, &declined);
    EXPECT_EQ(run.status, 1);
    ASSERT_EQ(run.lines.size(), 1);
    EXPECT_EQ(run.lines[0], QStringLiteral("LIVE desktop capture: ") + declined.message());
    EXPECT_FALSE(declined.message().isEmpty());
    EXPECT_EQ(screen.readings, 0);
    EXPECT_EQ(api.api.requestCount(QStringLiteral("ai/decisions")), 0);

    ScreenCaptureAccess granted;
    granted.testCapture = []() -> QCoro::Task<void> { co_return; };
    run = api.run(true, &screen, &granted);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.lines, QStringList { QStringLiteral(
                             "LIVE desktop capture + Decisions: on_task, P(off)=0.05, confidence=0.9. No screenshot saved.") });
    const QString input = api.decisionInput(FocusSelfTest::kDesktopTask);
    EXPECT_TRUE(input.contains(QStringLiteral("Idle duration: 0 real seconds.")));

    screen.failure = ScreenReaderError::noDisplay();
    run = api.run(true, &screen, &granted);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.lines, QStringList { QStringLiteral("LIVE desktop check failed: ") + screen.failure->description() });
    EXPECT_EQ(api.api.requestCount(QStringLiteral("ai/decisions")), 1);
}

TEST(FocusSelfTest, NumbersAreTheShortestThatReadBack)
{
    const struct {
        double value;
        const char* text;
    } cases[] = {
        { 1.0, "1.0" },          { 0.85, "0.85" },         { 0.0, "0.0" },
        { -0.0, "-0.0" },        { 0.1 + 0.2, "0.30000000000000004" },
        { 0.49, "0.49" },        { 1e-4, "0.0001" },       { 1e-5, "1e-05" },
        { 1.5e-7, "1.5e-07" },   { 12.5, "12.5" },         { 120.0, "120.0" },
        { 1e15, "1000000000000000.0" }, { 1e16, "1e+16" }, { 2.5e300, "2.5e+300" },
        { -0.75, "-0.75" },      { 5e-324, "5e-324" },
    };
    for (const auto& c : cases)
        EXPECT_EQ(FocusSelfTest::numberText(c.value), QString::fromLatin1(c.text)) << c.text;
}
