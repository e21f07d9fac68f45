#include <gtest/gtest.h>

#include "Tovrick/codex/CodexController.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "assistant/AssistantFakes.h"
#include "assistant/PointingFakes.h"

namespace {

const QRectF kButton(400, 300, 120, 40);
const QRectF kLink(900, 700, 60, 20);

Target target(const QRectF& rect, const char* id = "L1")
{
    return Target {QString::fromLatin1(id), QStringLiteral("thing"), rect};
}

FocusSession session(FocusSession::Status status, std::vector<FocusActivity> checks)
{
    FocusSession made;
    made.id = QUuid::fromString(QStringLiteral("{6A1F0C2E-3B4D-4E5F-8A9B-0C1D2E3F4A5B}"));
    made.task = QStringLiteral("Report");
    made.status = status;
    for (FocusActivity activity : checks) {
        FocusCheck check;
        check.activity = activity;
        made.checks.push_back(check);
    }
    return made;
}

} // namespace

TEST(Captions, AFinalCaptionStaysForItsReadingTime)
{
    const struct {
        const char* text;
        double seconds;
    } cases[] = {
        {"one two three four", 5.8},
        {"one two three four five six", 6.12},
        {"a b c d e f g h i j k l m n o p q r s t u v w x y z 1 2 3 4 5 6 7 8 9 10 11 12 13 14", 15.0},
        {"joined\tby\ta\ttab but spaced here", 5.8},     // 4 words at spaces
        {"  two   words  ", 5.8},
        {"", 5.8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_NEAR(HostPointing::readingTime(QString::fromUtf8(c.text)), c.seconds, 1e-9);

        PointingWorld world;
        world.pointing->liveCaption(QStringLiteral("earlier"));
        world.pointing->showCaption(QString::fromUtf8(c.text));
        const QString shown = QString::fromUtf8(c.text).isEmpty() ? QStringLiteral("earlier") : QString::fromUtf8(c.text);
        world.time.advance(c.seconds - 0.01);
        EXPECT_EQ(world.view.caption(), shown);
        EXPECT_TRUE(world.pointing->speaking());
        world.time.advance(0.02);
        EXPECT_EQ(world.view.caption(), std::nullopt);
        EXPECT_FALSE(world.pointing->speaking());
    }
}

TEST(Captions, ANewFinalCaptionReplacesTheOldReadingTime)
{
    PointingWorld world;
    world.pointing->showCaption(QStringLiteral("First"));
    world.time.advance(5.0);
    world.pointing->showCaption(QStringLiteral("one two three four five six"));
    world.time.advance(1.0); // the first one's time has passed
    EXPECT_EQ(world.view.caption(), QStringLiteral("one two three four five six"));
    world.time.advance(5.2);
    EXPECT_EQ(world.view.caption(), std::nullopt);

    // A live caption calls off the pending end of reading time and keeps the bubble up.
    world.pointing->showCaption(QStringLiteral("Done"));
    world.pointing->liveCaption(QStringLiteral("Still talking"));
    world.time.advance(20);
    EXPECT_EQ(world.view.caption(), QStringLiteral("Still talking"));
    EXPECT_TRUE(world.pointing->speaking());
    world.pointing->liveCaption(QString());
    EXPECT_EQ(world.view.caption(), std::nullopt);
    EXPECT_TRUE(world.pointing->speaking()) << "an empty live caption leaves speaking alone";
}

TEST(PointQueue, SpotsAreHeldInTurnAndTheCharacterGoesHomeAfterTheSpeech)
{
    PointingWorld world;
    world.pointing->pointAt({HostPointing::pointBelow(kButton), kButton});
    EXPECT_TRUE(world.pointing->timerRunning());
    EXPECT_EQ(world.engine().mode(), CursorMode::pinned(QPointF(460, 343)));
    EXPECT_EQ(world.view.speechTarget(), kButton);
    world.time.advance(0.5);
    world.pointing->pointAt({HostPointing::pointBelow(kLink), kLink});
    EXPECT_EQ(world.pointing->queue().size(), 1u) << "the first spot is still held";

    world.time.advance(2.69); // 3.19 s after the first
    world.pointing->tick();
    EXPECT_EQ(world.pointing->queue().size(), 1u);
    world.time.advance(0.02);
    world.pointing->tick();
    EXPECT_TRUE(world.pointing->queue().empty());
    EXPECT_EQ(world.engine().mode(), CursorMode::pinned(QPointF(930, 723)));

    // Not speaking, no stop asked: home 5 s after the spot was taken (once it is no longer held).
    world.time.advance(4.9);
    world.pointing->tick();
    EXPECT_FALSE(world.atHome());
    world.time.advance(0.2);
    world.pointing->tick();
    EXPECT_TRUE(world.atHome());
    EXPECT_EQ(world.view.speechTarget(), std::nullopt);
    EXPECT_FALSE(world.pointing->timerRunning());
}

TEST(PointQueue, WhileThePhoneSpeaksTheCharacterStaysAndAStopSendsItHomeSoonAfter)
{
    PointingWorld world;
    world.pointing->liveCaption(QStringLiteral("Look here"));
    world.pointing->pointAt({HostPointing::pointBelow(kButton), kButton});
    world.pointing->stopPointing();
    EXPECT_TRUE(world.pointing->homeRequested());
    world.time.advance(60);
    world.pointing->tick();
    EXPECT_FALSE(world.atHome()) << "never home on its own while speaking";

    world.pointing->showCaption(QStringLiteral("Look here."));
    world.time.advance(5.8); // the reading time ends: quiet from now
    world.time.advance(1.1);
    world.pointing->tick();
    EXPECT_FALSE(world.atHome());
    world.time.advance(0.2);
    world.pointing->tick();
    EXPECT_TRUE(world.atHome());
    EXPECT_FALSE(world.pointing->homeRequested());
}

TEST(Nudges, SayPointsBelowTheTargetAndShowsTheSentence)
{
    PointingWorld world;
    world.pointing->say(QStringLiteral("Back to the report?"), target(kButton), plan(false, false));
    EXPECT_EQ(world.view.caption(), QStringLiteral("Back to the report?"));
    EXPECT_EQ(world.engine().mode(), CursorMode::pinned(QPointF(460, 343)));
    EXPECT_EQ(world.view.speechTarget(), kButton);
    EXPECT_TRUE(world.pointing->speaking());
    EXPECT_FALSE(world.view.showsGoalImage());

    // Without a target the character goes home at once, but a queued spot is still served.
    world.pointing->pointAt({HostPointing::pointBelow(kLink), kLink});
    world.pointing->say(QStringLiteral("Still there?"), std::nullopt, plan(true, false));
    EXPECT_TRUE(world.atHome());
    EXPECT_EQ(world.view.speechTarget(), std::nullopt);
    EXPECT_TRUE(world.view.showsGoalImage()) << "the plan asked for the reminder image";
    world.time.advance(3.3);
    world.pointing->tick();
    EXPECT_EQ(world.engine().mode(), CursorMode::pinned(QPointF(930, 723)));
}

TEST(Nudges, TheClipPlaysOnlyWhileTheSameSessionRunsOffTask)
{
    using Status = FocusSession::Status;
    const FocusSession offTask = session(Status::running, {FocusActivity::onTask, FocusActivity::offTask});
    FocusSession replaced = offTask;
    replaced.id = QUuid::createUuid();
    const struct {
        const char* name;
        std::optional<FocusSession> before;
        std::optional<FocusSession> after;
        bool audio;
        int clips;
    } cases[] = {
        {"off task", offTask, offTask, true, 1},
        {"no checks yet", session(Status::running, {}), session(Status::running, {}), true, 1},
        {"uncertain", session(Status::running, {FocusActivity::uncertain}), session(Status::running, {FocusActivity::uncertain}), true, 1},
        {"paused marker", session(Status::running, {FocusActivity::paused}), session(Status::running, {FocusActivity::paused}), true, 1},
        {"back on task", offTask, session(Status::running, {FocusActivity::onTask}), true, 0},
        {"paused meanwhile", offTask, session(Status::paused, {FocusActivity::offTask}), true, 0},
        {"ended meanwhile", offTask, session(Status::ended, {FocusActivity::offTask}), true, 0},
        {"replaced", offTask, replaced, true, 0},
        {"gone", offTask, std::nullopt, true, 0},
        {"never a session", std::nullopt, std::nullopt, true, 0},
        {"plan says no", offTask, offTask, false, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PointingWorld world;
        world.session = c.before;
        world.pointing->say(QStringLiteral("Hey"), std::nullopt, plan(false, c.audio));
        EXPECT_EQ(world.clips, 0) << "the follow-up runs later, not inside say";
        world.session = c.after;
        world.time.advance(0.01);
        EXPECT_EQ(world.clips, c.clips);
        EXPECT_EQ(world.refreshes, c.audio ? 1 : 0);
    }

    // A second nudge calls off the first one's follow-up, even one that plays nothing itself.
    PointingWorld world;
    world.session = offTask;
    world.pointing->say(QStringLiteral("One"), std::nullopt, plan(false, true));
    world.pointing->say(QStringLiteral("Two"), std::nullopt, plan(false, false));
    world.time.advance(0.01);
    EXPECT_EQ(world.clips, 0);
}

// The phone starting to answer calls off a nudge's clip that has not started yet, as well as one that
// plays, so no clip starts over its voice.
TEST(Nudges, ThePhonesAnswerCallsOffTheClipStillToCome)
{
    const struct {
        const char* name;
        const char* command;
        int clips;
    } cases[] = {
        {"a voice turn", "voiceResponse", 0},
        {"a caption", "caption", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        PointingWorld world;
        world.session = session(FocusSession::Status::running, {FocusActivity::offTask});
        CodexController codex;
        RealtimeHost::Ports ports;
        ports.pointing = world.pointing;
        int stops = 0;
        ports.stopMotivation = [&] { ++stops; };
        RealtimeHost host(codex, std::move(ports));
        world.pointing->say(QStringLiteral("Back to it"), std::nullopt, plan(false, true));
        ReplySink sink;
        host.handlePhoneRequest(request(c.command, QStringLiteral("{}")), sink.reply());
        world.time.advance(0.01);
        EXPECT_EQ(world.clips, c.clips);
        EXPECT_EQ(stops, c.clips == 0 ? 1 : 0);
    }
}

TEST(AwakeAndStop, SleepResetsPointingAndCaptionAndStopRefusesControlForSixSeconds)
{
    PointingWorld world;
    ScreenSnapshot reading;
    reading.size = QSizeF(1920, 1080);
    world.pointing->screenContext(reading, std::nullopt);
    world.pointing->say(QStringLiteral("Look"), target(kButton), plan(true, false));
    world.pointing->pointAt({HostPointing::pointBelow(kLink), kLink});
    world.engine().setBrainMood(Mood::thinking);
    world.engine().setGazeOverride(QPointF(5, 5));

    world.pointing->setAwake(true);
    EXPECT_EQ(world.engine().brainMood(), std::nullopt);
    EXPECT_EQ(world.pointing->queue().size(), 1u) << "waking keeps the queue";

    world.pointing->setAwake(false);
    EXPECT_FALSE(world.engine().awake());
    EXPECT_EQ(world.pointing->snapshot(), std::nullopt);
    EXPECT_TRUE(world.pointing->queue().empty());
    EXPECT_FALSE(world.pointing->timerRunning());
    EXPECT_TRUE(world.atHome());
    EXPECT_EQ(world.view.speechTarget(), std::nullopt);
    EXPECT_EQ(world.view.caption(), std::nullopt);
    EXPECT_FALSE(world.view.showsGoalImage());
    EXPECT_TRUE(world.pointing->speaking()) << "sleep leaves speaking as it was";

    world.pointing->pointAt({HostPointing::pointBelow(kLink), kLink});
    world.engine().setDragging(true);
    world.pointing->stop();
    EXPECT_DOUBLE_EQ(world.pointing->stoppedUntil(), world.time.now + 6.0);
    EXPECT_TRUE(world.pointing->queue().empty());
    EXPECT_FALSE(world.engine().dragging());
    EXPECT_TRUE(world.atHome());
    world.engine().step();
    EXPECT_TRUE(world.view.labelShown());
    world.time.advance(1.7);
    world.engine().step();
    EXPECT_FALSE(world.view.labelShown()) << "\"Stopped\" shows for 1.6 s";
}

TEST(Grid, GridPointsMapToTheScreenWithTheFallbacks)
{
    PointingWorld world;
    world.screen = std::nullopt;
    EXPECT_EQ(world.pointing->screenSize(), QSizeF(1440, 900));
    EXPECT_EQ(world.pointing->gridToScreen(500, 500), QPointF(720, 450));
    world.screen = QSizeF(1920, 1080);
    EXPECT_EQ(world.pointing->gridToScreen(500, 250), QPointF(960, 270));
    ScreenSnapshot reading;
    reading.size = QSizeF(1000, 800);
    world.pointing->screenContext(reading, std::nullopt);
    const struct {
        double x, y;
        QPointF expected;
    } cases[] = {
        {1500, -20, {1000, 0}}, {0, 1000, {0, 800}}, {250, 500, {250, 400}}, {-0.0, 2000, {0, 800}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(world.pointing->gridToScreen(c.x, c.y), c.expected) << c.x << "," << c.y;

    const struct {
        const char* direction;
        int dx, dy;
        const char* glyph;
    } scrolls[] = {{"up", 0, -3, "↑"}, {"left", -3, 0, "←"}, {"right", 3, 0, "→"}, {"down", 0, 3, "↓"}, {"Up", 0, 3, "↓"}};
    for (const auto& s : scrolls) {
        const HostPointing::Scroll got = HostPointing::scrollDirection(QString::fromLatin1(s.direction), 3);
        EXPECT_EQ(got.dx, s.dx) << s.direction;
        EXPECT_EQ(got.dy, s.dy) << s.direction;
        EXPECT_EQ(got.glyph, QString::fromUtf8(s.glyph)) << s.direction;
    }
}

TEST(ScreenContext, TheReadingIsKeptAndTheMouseIsPlacedOnTheGrid)
{
    ScreenSnapshot reading;
    reading.size = QSizeF(1000, 800);
    reading.jpeg = QByteArray("jpeg bytes");
    reading.lines = {TextLine {Target {QStringLiteral("L1"), QStringLiteral("Save draft"), QRectF(100, 100, 200, 20)}, {}}};
    const QString ending = QStringLiteral(". When they say \"this\", \"that\" or \"here\", they mean what's at their mouse pointer.");
    const QString hidden = QStringLiteral("\n(Clickable controls are hidden until the accessibility bus runs: the user has to install at-spi2-core and start its "
        "at-spi-bus-launcher.)");
    const struct {
        std::optional<QPointF> mouse;
        bool trusted;
        bool control;
        std::optional<QString> sentence;
        QString expected; // after the reading's own text
    } cases[] = {
        {QPointF(150, 105), true, true, std::nullopt, QStringLiteral("\nThe user's mouse pointer is at @150,131, on L1 \"Save draft\"") + ending},
        {QPointF(-5, 900), true, true, std::nullopt, QStringLiteral("\nThe user's mouse pointer is at @0,1000") + ending},
        {std::nullopt, false, true, std::nullopt, QStringLiteral("\nThe user's mouse pointer is at @0,0") + ending + hidden},
        {QPointF(999.9, 0.5), false, false, std::nullopt, QStringLiteral("\nThe user's mouse pointer is at @999,0") + ending},
    };
    for (const auto& c : cases) {
        PointingWorld world;
        world.mouse = c.mouse;
        world.trusted = c.trusted;
        world.computerControl = c.control;
        const auto [text, image] = world.pointing->screenContext(reading, c.sentence);
        EXPECT_EQ(text, reading.promptText() + c.expected);
        EXPECT_EQ(image, QStringLiteral("anBlZyBieXRlcw=="));
        ASSERT_TRUE(world.pointing->snapshot());
        EXPECT_EQ(world.pointing->snapshot()->lines, reading.lines);
    }
    PointingWorld world;
    world.trusted = false;
    world.mouse = QPointF(500, 400);
    const auto [text, image] = world.pointing->screenContext(reading, QStringLiteral("Clicked."));
    EXPECT_TRUE(text.startsWith(QStringLiteral("Clicked.\nHere's the screen now (ids have changed):\n") + reading.promptText()));
    EXPECT_TRUE(text.endsWith(ending + hidden));
}

TEST(ScreenContext, CaptureFailuresBecomeOneSentence)
{
    const auto declined = std::make_exception_ptr(ScreenReaderError::declined());
    const QString denied = QStringLiteral("The system denied screen access to this copy of Tovrick. Open Focus & "
                                          "Account on the computer to recheck screen access.");
    EXPECT_EQ(HostPointing::screenCaptureError(declined, std::nullopt), denied);
    EXPECT_EQ(HostPointing::screenCaptureError(declined, QStringLiteral("Clicked.")), QStringLiteral("Clicked. ") + denied);
    const auto noDisplay = std::make_exception_ptr(ScreenReaderError::noDisplay());
    EXPECT_EQ(HostPointing::screenCaptureError(noDisplay, std::nullopt),
              QStringLiteral("I couldn't capture the screen: ") + ScreenReaderError::noDisplay().description());
}
