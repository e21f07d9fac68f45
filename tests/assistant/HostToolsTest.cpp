#include <gtest/gtest.h>

#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "assistant/AssistantFakes.h"
#include "assistant/PointingFakes.h"
#include "focus/FocusFakes.h"
#include "support/RunTask.h"

namespace {

// Hands out the screen the test prepared, or throws what it was told to.
struct FakeScreen : SnapshotSource {
    std::function<ScreenSnapshot()> next;
    int reads = 0;
    QCoro::Task<ScreenSnapshot> snapshot() override
    {
        ++reads;
        ScreenSnapshot reading = next();
        co_return reading;
    }
};

ScreenSnapshot desk()
{
    ScreenSnapshot reading;
    reading.size = QSizeF(1000, 800);
    reading.jpeg = QByteArray("jpeg");
    TextLine first {Target {QStringLiteral("L1"), QStringLiteral("Save draft now"), QRectF(100, 100, 300, 20)}, {}};
    first.words = {Target {QStringLiteral("W1"), QStringLiteral("Save"), QRectF(100, 100, 60, 20)},
                   Target {QStringLiteral("W2"), QStringLiteral("draft"), QRectF(170, 100, 80, 20)}};
    TextLine second {Target {QStringLiteral("L2"), QStringLiteral("Inbox"), QRectF(100, 400, 100, 20)}, {}};
    reading.lines = {first, second};
    return reading;
}

class ToolCalls : public ::testing::Test {
protected:
    void SetUp() override
    {
        screen->next = [] { return desk(); };
        HostTools::Ports ports;
        ports.screen = screen;
        ports.signedIn = [this] { return signedIn; };
        ports.focus = [this] { return withFocus ? engine.get() : nullptr; };
        ports.research = [this](QString question, std::optional<QString> context) -> QCoro::Task<QString> {
            asked.emplace_back(question, context);
            co_return QStringLiteral("researched");
        };
        tools = std::make_unique<HostTools>(world.pointing, codex, std::move(ports));
        engine->connected = true;
        engine->lastPing = focusWorld.clock;
    }

    ToolResult call(const QString& name, const QString& arguments = QStringLiteral("{}"), CancelToken token = {})
    {
        return runTask(tools->handleToolCall(name, arguments, token));
    }
    QString say(const QString& name, const QString& arguments = QStringLiteral("{}")) { return call(name, arguments).text; }

    PointingWorld world;
    FocusWorld focusWorld;
    std::unique_ptr<FocusCompanion> engine = focusWorld.engine();
    CodexController codex;
    std::shared_ptr<FakeScreen> screen = std::make_shared<FakeScreen>();
    bool signedIn = true;
    bool withFocus = true;
    std::vector<std::pair<QString, std::optional<QString>>> asked;
    std::unique_ptr<HostTools> tools;
};

} // namespace

TEST(ToolArguments, NumbersAreJsonNumbersOrWhollyDecimalStrings)
{
    const struct {
        const char* json;
        std::optional<double> value;
    } cases[] = {
        {R"({"x":5})", 5},          {R"({"x":-2.5})", -2.5},      {R"({"x":"500"})", 500},
        {R"({"x":"12.25"})", 12.25}, {R"({"x":"1e3"})", 1000},     {R"({"x":"500 "})", std::nullopt},
        {R"({"x":" 500"})", std::nullopt}, {R"({"x":""})", std::nullopt}, {R"({"x":"5px"})", std::nullopt},
        {R"({"x":"nan"})", std::nullopt}, {R"({"x":"inf"})", std::nullopt}, {R"({"x":"-infinity"})", std::nullopt},
        {R"({"x":true})", std::nullopt}, {R"({"x":null})", std::nullopt}, {R"({"x":[1]})", std::nullopt},
        {R"({"y":1})", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(toolargs::number(toolargs::parse(QString::fromUtf8(c.json)), "x"), c.value) << c.json;

    for (const char* notAnObject : {"", "[1,2]", "\"text\"", "{\"x\":", "null"})
        EXPECT_EQ(toolargs::parse(QString::fromUtf8(notAnObject)), Json::object()) << notAnObject;
    EXPECT_EQ(toolargs::text(toolargs::parse(QStringLiteral(R"({"a":"b","n":1})")), "a"), QStringLiteral("b"));
    EXPECT_EQ(toolargs::text(toolargs::parse(QStringLiteral(R"({"a":"b","n":1})")), "n"), std::nullopt);
}

TEST_F(ToolCalls, EachToolAnswersWithItsSentence)
{
    const QString give = QStringLiteral("Give x and y.");
    const struct {
        const char* name;
        const char* arguments;
        QString expected;
    } cases[] = {
        {"point_at", R"({"target_id":"L1"})", QStringLiteral("Call look_at_screen first.")},
        {"point_at_spot", R"({"x":"500 ","y":250})", give},
        {"point_at_spot", R"({"x":"nan","y":250})", give},
        {"point_at_spot", R"({"y":250})", give},
        {"point_at_spot", R"({"x":500,"y":"abc"})", give},
        {"stop_pointing", "{}", QStringLiteral("Your cursor will head home once you finish talking.")},
        {"web_research", R"({"question":"  \n "})", QStringLiteral("What should I research?")},
        {"web_research", R"({"question":7})", QStringLiteral("What should I research?")},
        {"focus_status", "{}", QStringLiteral("No focus session yet.")},
        {"focus_pause", "{}", QStringLiteral("Focus is already paused or ended.")},
        {"focus_resume", "{}", QStringLiteral("There's no paused focus session.")},
        {"codex_status", "{}", QStringLiteral("No Codex jobs yet.")},
        {"go_to_sleep", "not json", QStringLiteral("Going to sleep. Say a very short goodbye.")},
        {"Look_at_screen", "{}", QStringLiteral("Unknown tool Look_at_screen.")},
        {"POINT_AT", "{}", QStringLiteral("Unknown tool POINT_AT.")},
        {"", "{}", QStringLiteral("Unknown tool .")},
        {"click", R"({"target_id":"L1"})", HostTools::computerControlUnavailable()},
        {"open_url", R"({"url":"example.com"})", HostTools::computerControlUnavailable()},
    };
    for (const auto& c : cases) {
        const ToolResult result = call(QString::fromLatin1(c.name), QString::fromUtf8(c.arguments));
        EXPECT_EQ(result.text, c.expected) << c.name << " " << c.arguments;
        EXPECT_FALSE(result.image) << c.name;
    }
    EXPECT_EQ(screen->reads, 0);
    EXPECT_TRUE(asked.empty()) << "an empty question is not researched";
}

TEST_F(ToolCalls, WithoutSignInOrAfterSleepNothingRuns)
{
    signedIn = false;
    for (const char* name : {"look_at_screen", "go_to_sleep", "focus_start", "click", "nothing"})
        EXPECT_EQ(say(QString::fromLatin1(name)), RealtimeHost::signInSentence()) << name;
    signedIn = true;
    CancelToken slept;
    slept.cancel();
    EXPECT_EQ(call(QStringLiteral("look_at_screen"), QStringLiteral("{}"), slept).text, RealtimeHost::signInSentence());
    EXPECT_EQ(screen->reads, 0);
    EXPECT_EQ(engine->current(), std::nullopt);
}

TEST_F(ToolCalls, LookingThenPointingQueuesSpotsBelowTheTargets)
{
    const ToolResult look = call(QStringLiteral("look_at_screen"));
    EXPECT_TRUE(look.text.startsWith(desk().promptText()));
    EXPECT_EQ(look.image, QStringLiteral("anBlZw=="));

    EXPECT_EQ(say(QStringLiteral("point_at"), QStringLiteral(R"({"target_id":" \tw2 "})")),
              QStringLiteral("Pointing at \"draft\"."));
    EXPECT_EQ(world.engine().mode(), CursorMode::pinned(QPointF(210, 123)));
    EXPECT_EQ(say(QStringLiteral("point_at"), QStringLiteral(R"({"target_id":"L2"})")),
              QStringLiteral("Pointing at \"Inbox\"."));
    EXPECT_EQ(say(QStringLiteral("point_at"), QStringLiteral(R"({"target_id":"L1"})")),
              QStringLiteral("Queued: your cursor will point at \"Save draft now\" after the earlier spots."));
    EXPECT_EQ(say(QStringLiteral("point_at"), QStringLiteral(R"({"target_id":"L9"})")),
              QStringLiteral("No target L9. Use an id from the last look_at_screen."));
    ASSERT_EQ(world.pointing->queue().size(), 2u);

    // Spots on the grid of the held reading: x as a decimal string, y as a number.
    EXPECT_EQ(say(QStringLiteral("point_at_spot"), QStringLiteral(R"({"x":"500","y":250})")), QStringLiteral("Pointing there."));
    ASSERT_EQ(world.pointing->queue().size(), 3u);
    EXPECT_EQ(world.pointing->queue().back().point, QPointF(500, 200));
    EXPECT_EQ(world.pointing->queue().back().thing, QRectF(484, 184, 32, 32));

    // The held reading's first lines are research's context.
    EXPECT_EQ(say(QStringLiteral("web_research"), QStringLiteral(R"({"question":" Why? "})")), QStringLiteral("researched"));
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, QStringLiteral("Why?"));
    EXPECT_EQ(asked[0].second, QStringLiteral("Save draft now / Inbox"));

    // A refused capture keeps the reading held before.
    screen->next = []() -> ScreenSnapshot { throw ScreenReaderError::declined(); };
    const ToolResult refused = call(QStringLiteral("look_at_screen"));
    EXPECT_EQ(refused.text, HostPointing::screenCaptureError(std::make_exception_ptr(ScreenReaderError::declined()), std::nullopt));
    EXPECT_FALSE(refused.image);
    EXPECT_TRUE(world.pointing->snapshot().has_value());
}

TEST_F(ToolCalls, FocusToolsDriveTheEngine)
{
    EXPECT_EQ(say(QStringLiteral("focus_start"), QStringLiteral(R"({"task":"Write the report","minutes":"45"})")),
              QStringLiteral("Focus started: Write the report, 30 minutes."));
    ASSERT_TRUE(engine->current());
    EXPECT_EQ(engine->current()->duration, 30 * 60) << "a numeric string is not taken for minutes";

    for (int second = 0; second < 1075; ++second) { // 725 s left
        focusWorld.clock += 1;
        engine->lastPing = focusWorld.clock;
        engine->tick();
    }
    ASSERT_EQ(engine->current()->elapsed, 1075);
    EXPECT_EQ(say(QStringLiteral("focus_status")),
              QStringLiteral("Task: Write the report. running, 12:05 remaining. ") + engine->current()->detail);
    EXPECT_EQ(say(QStringLiteral("focus_pause")), QStringLiteral("Focus paused."));
    EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    EXPECT_EQ(say(QStringLiteral("focus_resume")), QStringLiteral("Focus resumed."));
    EXPECT_EQ(engine->current()->status, FocusSession::Status::running);
    say(QStringLiteral("focus_end"));
    EXPECT_EQ(engine->current()->status, FocusSession::Status::ended);

    withFocus = false;
    const struct {
        const char* name;
        const char* expected;
    } without[] = {{"focus_start", "Focus is unavailable."}, {"focus_pause", "Focus unavailable."},
                   {"focus_resume", "Focus unavailable."},   {"focus_end", "Focus unavailable."},
                   {"focus_status", "No focus session yet."}};
    for (const auto& c : without)
        EXPECT_EQ(say(QString::fromLatin1(c.name)), QString::fromLatin1(c.expected)) << c.name;
}
