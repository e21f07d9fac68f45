#include <gtest/gtest.h>

#include <QFile>

#include <cmath>

#include "FocusFakes.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "shared/util/Settings.h"

namespace {

class FocusEngine : public ::testing::Test {
protected:
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();
    std::vector<std::pair<QString, std::optional<Target>>> delivered;

    void phonePing()
    {
        engine->connected = true;
        engine->lastPing = world.clock;
    }
    // Developer mode (a check every 10 s): two sure off-task checks ask for a nudge after 20 s.
    void startFastSession()
    {
        delivered.clear();
        engine = world.engine();
        engine->onNudge = [this](const QString& message, const std::optional<Target>& target) {
            delivered.emplace_back(message, target);
        };
        engine->setDeveloperMode(true);
        engine->start(QStringLiteral("Write the report"), false, 60);
        world.judgements.answer = [] { return decision(FocusActivity::offTask, 0.97); };
    }
};

} // namespace

TEST_F(FocusEngine, PreconditionsAreCheckedInOrderAtStartResumeAndEachTick)
{
    const QString task = QStringLiteral("Write");
    const auto refuses = [&](const QString& what, bool phone, double minutes, const char* reply) {
        EXPECT_EQ(engine->start(what, phone, minutes), QString::fromUtf8(reply));
        EXPECT_FALSE(engine->current().has_value());
        EXPECT_EQ(engine->revision(), 0);
    };
    world.permission = world.signedIn = false;
    refuses(QStringLiteral(" \n\t "), true, std::nan(""), "Tell me the task first.");
    refuses(task, true, std::nan(""), "Use a duration between 1 and 240 minutes.");
    refuses(task, true, 25, "Connect the paired phone first.");
    refuses(task, false, 25, "Screen access needs a recheck. Use the screen access controls below.");
    world.permission = true;
    refuses(task, false, 25, "Sign in with Apple to start a focus session.");
    EXPECT_FALSE(QFile::exists(world.signedOutFile())) << "a refused start saved";
    world.permission = world.signedIn = true;

    // A phone's start needs a focus command from it less than 5 s ago.
    engine->connected = true;
    engine->lastPing = world.clock - 5.0;
    EXPECT_EQ(engine->start(task, true, 0.5), QStringLiteral("Connect the paired phone first."));
    engine->lastPing = world.clock - 4.9;
    EXPECT_EQ(engine->start(QStringLiteral("  Write \n"), true, 0.5), QStringLiteral("Focus started: Write, 1 minutes."));
    EXPECT_EQ(engine->resume(), QStringLiteral("There's no paused focus session."));
    for (int i = 0; i < 3; ++i) {
        phonePing();
        world.run(*engine, 1);
    }

    // The tick pauses for the first lost precondition in its own order.
    const auto lose = [&](bool account, bool phone, bool unlocked, const char* detail) {
        world.signedIn = account;
        engine->lastPing = phone ? world.clock : world.clock - 5.0;
        world.unlocked = unlocked;
        world.permission = false;
        engine->tick();
        EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
        EXPECT_EQ(engine->current()->detail, QString::fromUtf8(detail));
        world.unlocked = true;
    };
    lose(false, false, false, "Sign-in expired. Sign in again before resuming.");
    EXPECT_EQ(engine->start(task, false, 25), QStringLiteral("There's already a focus session. End it before starting another."));
    world.clock += 10; // paused time does not count
    EXPECT_EQ(engine->resume(), QStringLiteral("Reconnect the paired phone before resuming."));
    phonePing();
    EXPECT_EQ(engine->resume(), QStringLiteral("Sign in with Apple before resuming."));
    world.signedIn = true;
    EXPECT_EQ(engine->resume(), QStringLiteral("Screen access needs a recheck before resuming."));
    world.permission = true;
    EXPECT_EQ(engine->resume(), QStringLiteral("Focus resumed."));
    EXPECT_EQ(engine->current()->elapsed, 3);

    lose(true, false, false, "Phone disconnected. Reconnect, then resume.");
    phonePing();
    world.permission = true;
    ASSERT_EQ(engine->resume(), QStringLiteral("Focus resumed."));
    lose(true, true, false, "Computer locked. Resume when ready.");
    world.permission = true;
    ASSERT_EQ(engine->resume(), QStringLiteral("Focus resumed."));
    lose(true, true, true, "Screen access needs a recheck. Resume when access is ready.");
}

TEST_F(FocusEngine, DeveloperModeSwitchesTheClockAndIsRemembered)
{
    Settings::shared().remove(FocusCompanion::kDeveloperModeKey);
    FocusEnvironment environment = world.environment();
    environment.settings = &Settings::shared();
    engine = std::make_unique<FocusCompanion>(environment);
    engine->start(QStringLiteral("Write"), false, 25);
    world.run(*engine, 10);
    EXPECT_EQ(engine->setDeveloperMode(true), QStringLiteral("Developer Mode on: clock 4\u00d7, checks every 10 seconds."));
    world.run(*engine, 9);
    EXPECT_EQ(engine->current()->elapsed, 46) << "4 focus seconds a real second";
    EXPECT_EQ(world.judgements.calls, 0);
    world.run(*engine, 1);
    EXPECT_EQ(world.judgements.calls, 1) << "a check 10 real seconds after the switch";

    EXPECT_EQ(engine->setDeveloperMode(false), QStringLiteral("Developer Mode off: normal clock, checks every 30 seconds."));
    world.run(*engine, 2);
    EXPECT_EQ(engine->current()->elapsed, 52);

    engine->setDeveloperMode(true);
    engine = std::make_unique<FocusCompanion>(environment);
    EXPECT_TRUE(engine->developerMode()) << "a new engine reads the stored flag";
    Settings::shared().remove(FocusCompanion::kDeveloperModeKey);
}

// Time that runs out between two ticks ends the session inside whichever pause finds it first
// (shutdown, a lock notice, an account change); the finished session must still reach the history.
TEST_F(FocusEngine, SessionThatRunsOutOfTimeIsArchived)
{
    for (int way = 0; way < 4; ++way) {
        SCOPED_TRACE(way);
        QFile::remove(world.signedOutFile());
        engine = world.engine();
        engine->startObserving();
        engine->start(QStringLiteral("Write"), false, 1);
        const QUuid id = engine->current()->id;
        world.clock += 61;
        if (way == 0)
            engine->tick();
        else if (way == 1)
            EXPECT_EQ(engine->pause(QStringLiteral("Tovrick closed")), QStringLiteral("Focus paused."));
        else if (way == 2)
            emit world.sessionSignals.screenLocked();
        else
            engine->accountChanged(std::nullopt);
        const auto onDisk = world.engine()->history();
        ASSERT_FALSE(onDisk.empty());
        EXPECT_EQ(onDisk.front().id, id);
        EXPECT_EQ(onDisk.front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
    }
}

TEST_F(FocusEngine, OnlyAFreshVerdictOfTheLiveCheckLands)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.judgements.hold = true;
    const auto judgeAfter = [&](double seconds) {
        while (world.judgements.waiting() == 0)
            world.run(*engine, 1);
        world.clock += seconds;
        world.judgements.resolve(decision(FocusActivity::offTask, 0.8));
    };
    judgeAfter(20.0);
    EXPECT_EQ(engine->current()->checks.back().activity, FocusActivity::offTask);
    EXPECT_EQ(engine->policy().run().size(), 1u);
    judgeAfter(20.5);
    EXPECT_EQ(engine->current()->checks.back().activity, FocusActivity::unavailable);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Last check was stale; skipped"));
    EXPECT_TRUE(engine->policy().run().empty()) << "a stale verdict clears the off-task run";

    // A pause while the judge works drops its verdict, even once the session runs again.
    world.run(*engine, 70);
    EXPECT_EQ(world.judgements.calls, 3) << "one check at a time, however long the judge takes";
    engine->pause(QStringLiteral("Paused"));
    const qint64 revision = engine->revision();
    world.judgements.resolve(decision(FocusActivity::offTask, 0.99));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    EXPECT_EQ(engine->revision(), revision);
    engine->resume();
    world.run(*engine, 30);
    engine->pause(QStringLiteral("Paused"));
    engine->resume();
    const std::size_t checks = engine->current()->checks.size();
    world.judgements.resolve(decision(FocusActivity::offTask, 0.99));
    EXPECT_EQ(engine->current()->checks.size(), checks);

    // A check stuck past its deadline is replaced, and its late reading ignored.
    world.captures.hold = true;
    const int captures = world.captures.calls;
    world.run(*engine, 30 + static_cast<int>(FocusCompanion::kCheckDeadline));
    EXPECT_EQ(world.captures.calls, captures + 2);
    world.captures.resolve(world.screen);
    EXPECT_EQ(engine->current()->checks.size(), checks);
    world.judgements.hold = false;
    world.captures.resolve(world.screen);
    EXPECT_EQ(engine->current()->checks.size(), checks + 1);
}

TEST_F(FocusEngine, FailuresBackOffUntilAVerdictAndADeclinedCapturePauses)
{
    engine->start(QStringLiteral("Write"), false, 240);
    world.captures.answer = []() -> ScreenSnapshot {
        throw ScreenReaderError(ScreenReaderError::Kind::captureFailed, QString(200, QLatin1Char('x')));
    };
    world.run(*engine, 30);
    int calls = 1;
    for (const int delay : { 30, 60, 120, 240, 300, 300 }) {
        ASSERT_EQ(world.captures.calls, calls);
        EXPECT_EQ(engine->consecutiveFailures(), std::min(calls, 5));
        EXPECT_EQ(engine->current()->detail, QStringLiteral("Check unavailable: %1. Timer continues; retrying in %2s.")
                                                 .arg(QString(140, QLatin1Char('x'))).arg(delay));
        world.run(*engine, delay - 1);
        EXPECT_EQ(world.captures.calls, calls) << "the next check waits for the back-off of " << delay;
        world.run(*engine, 1);
        ++calls;
    }
    world.captures.answer = [&] { return world.screen; };
    world.run(*engine, 300);
    EXPECT_EQ(engine->consecutiveFailures(), 0);

    // Refused access is no back-off failure: the session waits for a recheck.
    ScreenCaptureAccess& access = ScreenCaptureAccess::shared();
    access.setConfirmedByCapture(true);
    world.captures.answer = []() -> ScreenSnapshot { throw ScreenReaderError::declined(); };
    world.run(*engine, 30);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Screen access was denied by the system. Recheck access before resuming."));
    EXPECT_FALSE(access.confirmedByCapture());
    EXPECT_TRUE(access.needsSettings());
    EXPECT_EQ(access.message(), QStringLiteral("The system stopped screen access. Make sure Tovrick runs on your display "
                                               "and press Recheck, then resume your session."));
    EXPECT_EQ(engine->consecutiveFailures(), 0);
    access.setNeedsSettings(false);
    access.setMessage(QString());
}

TEST_F(FocusEngine, NudgeTargetIsRecheckedAndALateFallbackLeavesNewerStateAlone)
{
    const struct { QPointF move; double preparation; bool switchApp, keeps; const char* text = "Funny cat videos"; } cases[] = {
        { QPointF(9, 9), 14.9, false, true }, { QPointF(12, 0), 1, false, false }, { QPointF(0, 12), 1, false, false },
        { QPointF(0, 0), 15, false, false },  { QPointF(0, 0), 1, true, false },
        { QPointF(0, 0), 1, false, false, "Funny cat video" },
    };
    const ScreenSnapshot judged = world.screen;
    const Target cats { QStringLiteral("L2"), QStringLiteral("Funny cat videos"), QRectF(100, 300, 300, 20) };
    world.nudges.hold = true;
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        world.clock = 1000; // whole seconds, so the 15-second edge is exact
        world.screen = judged;
        world.front->pid = 100;
        startFastSession();
        world.run(*engine, 20);
        world.clock += c.preparation;
        if (c.switchApp)
            world.front->pid = 200;
        world.screen.lines[1] = line(QStringLiteral("L7"), QString::fromUtf8(c.text), cats.rect.translated(c.move));
        world.nudges.resolve(FocusAPI::Nudge { QStringLiteral("Cats can wait."), cats });

        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].first, QStringLiteral("Cats can wait."));
        ASSERT_EQ(delivered[0].second.has_value(), c.keeps);
        if (c.keeps) {
            EXPECT_EQ(delivered[0].second->id, QStringLiteral("L7")) << "the fresh reading's line";
            EXPECT_EQ(delivered[0].second->rect, world.screen.lines[1].rect);
        }
        EXPECT_TRUE(engine->current()->checks.back().nudged);
    }

    // A failed preparation falls back to a reminder, but one whose check was overtaken must not
    // write its text over what the user now sees.
    startFastSession();
    world.run(*engine, 20);
    const auto timedOut = std::make_exception_ptr(FocusAPI::Failure(QStringLiteral("Timed out.")));
    world.nudges.fail(timedOut);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].first, QStringLiteral("Are you sure you're on task right now?"));
    EXPECT_FALSE(delivered[0].second.has_value());
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 Tovrick nudged you"));
    delivered.clear();
    engine->end();
    engine->start(QStringLiteral("Next task"), false, 25);
    world.run(*engine, 20);
    engine->end();
    engine->start(QStringLiteral("Third task"), false, 25);
    world.nudges.fail(timedOut);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("First check in 10 seconds"));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FocusEngine, AFailedJudgementTellsTheUserOnePlainSentence)
{
    engine->start(QStringLiteral("Write"), false, 240);
    const std::pair<std::function<FocusDecision()>, const char*> failures[] = {
        {[]() -> FocusDecision { throw FocusAPI::Failure(QStringLiteral("Timed out")); }, "Timed out"},
        {[] { return FocusDecision::decode("<html>Bad Gateway</html>"); }, "The answer couldn't be read"},
        {[]() -> FocusDecision { throw std::runtime_error("map::at"); }, "Unknown error"},
    };
    int wait = 30, delay = 30;
    for (const auto& [failure, sentence] : failures) {
        world.judgements.answer = failure;
        world.run(*engine, std::exchange(wait, delay));
        EXPECT_EQ(engine->current()->detail,
                  QStringLiteral("Check unavailable: %1. Timer continues; retrying in %2s.").arg(QString::fromUtf8(sentence)).arg(delay));
        delay *= 2;
    }
}

TEST_F(FocusEngine, NudgeFallsBackWhenItsCapturesFailAndKeepsATargetOnlyInTheSameApp)
{
    const FrontmostApp editor { QStringLiteral("Editor"), 100 };
    const Target cats { QStringLiteral("L2"), QStringLiteral("Funny cat videos"), QRectF(100, 300, 300, 20) };
    // Captures 1 and 2 are the checks, 3 the nudge's reading and 4 its re-check.
    const struct {
        int failingCapture;
        bool appBefore, appAfter, keeps;
        const char* sentence = "Cats can wait.";
    } cases[] = {
        { 3, true, true, false, "Are you sure you're on task right now?" },
        { 4, true, true, false },
        { 0, false, false, true },
        { 0, true, false, false },
        { 0, false, true, false },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        world.captures.calls = 0;
        world.captures.answer = [&] {
            if (world.captures.calls == c.failingCapture)
                throw ScreenReaderError(ScreenReaderError::Kind::captureFailed, QStringLiteral("gone"));
            return world.screen;
        };
        world.front = c.appBefore ? std::optional(editor) : std::nullopt;
        world.nudges.hold = true;
        startFastSession();
        world.run(*engine, 20);
        world.front = c.appAfter ? std::optional(editor) : std::nullopt;
        if (world.nudges.waiting() > 0)
            world.nudges.resolve(FocusAPI::Nudge { QStringLiteral("Cats can wait."), cats });
        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].first, QString::fromUtf8(c.sentence));
        EXPECT_EQ(delivered[0].second.has_value(), c.keeps);
        EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 Tovrick nudged you"));
    }
}

TEST_F(FocusEngine, LockAndSleepPauseWithTheirReasonAndRefusalsChangeNothing)
{
    engine->startObserving();
    const std::pair<void (SessionSignals::*)(), const char*> notices[] = {
        { &SessionSignals::screenLocked, "Computer locked. Resume when you're ready." },
        { &SessionSignals::sleepingOrSwitchedAway, "Computer sleeping or locked. Resume when you're ready." },
    };
    for (const auto& [notice, reason] : notices) {
        engine->end();
        engine->start(QStringLiteral("Write"), false, 25);
        (world.sessionSignals.*notice)();
        EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
        EXPECT_EQ(engine->current()->detail, QString::fromUtf8(reason));
    }

    const qint64 revision = engine->revision();
    const std::pair<std::function<QString()>, const char*> refusals[] = {
        { [&] { return engine->pause(QStringLiteral("Again")); }, "Focus is already paused or ended." },
        { [&] { return engine->sendTestNudge(); }, "Enable Developer Mode and sign in first." },
        { [&] { return engine->setDeveloperMode(false); }, "Developer Mode is already off." },
        { [&] { return engine->start(QStringLiteral("Other"), false, 25); },
          "There's already a focus session. End it before starting another." },
    };
    for (const auto& [command, answer] : refusals)
        EXPECT_EQ(command(), QString::fromUtf8(answer));
    EXPECT_EQ(engine->revision(), revision);

    // Once observing stops, a lock leaves a running session alone.
    engine->resume();
    engine->stopObserving();
    emit world.sessionSignals.screenLocked();
    EXPECT_EQ(engine->current()->status, FocusSession::Status::running);
    engine->end();
    EXPECT_EQ(engine->end(), QStringLiteral("There's no running focus session."));
}
