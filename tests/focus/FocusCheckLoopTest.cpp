#include <gtest/gtest.h>

#include "FocusFakes.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"

namespace {

struct DeliveredNudge {
    QString message;
    std::optional<Target> target;
};

class FocusChecks : public ::testing::Test {
protected:
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();
    std::vector<DeliveredNudge> delivered;

    void SetUp() override
    {
        engine->onNudge = [this](const QString& message, const std::optional<Target>& target) {
            delivered.push_back({ message, target });
        };
    }

    // Developer mode: a check every 10 real seconds, and two sure off-task checks 40 focus seconds
    // apart already make a nudge.
    void startFastSession()
    {
        engine->setDeveloperMode(true);
        ASSERT_EQ(engine->start(QStringLiteral("Write the report"), false, 60),
                  QStringLiteral("Focus started: Write the report, 60 minutes."));
        world.judgements.answer = [] { return decision(FocusActivity::offTask, 0.97); };
    }
    // Runs the two off-task checks; the second one asks for a nudge.
    void runUntilNudgeIsPrepared()
    {
        world.run(*engine, 10);
        ASSERT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 checking again before nudging"));
        world.run(*engine, 10);
    }
    FocusAPI::Nudge pointingNudge() const
    {
        return FocusAPI::Nudge { QStringLiteral("Cats can wait."), Target { QStringLiteral("L2"),
                                                                             QStringLiteral("Funny cat videos"),
                                                                             QRectF(100, 300, 300, 20) } };
    }
};

} // namespace

TEST_F(FocusChecks, VerdictsAreRecordedWithTheirDetail)
{
    engine->start(QStringLiteral("Write"), false, 25);
    struct Case {
        FocusActivity activity;
        QString detail;
    };
    const Case cases[] = {
        { FocusActivity::onTask, QStringLiteral("On task") },
        { FocusActivity::uncertain, QStringLiteral("Not enough context to judge") },
        { FocusActivity::offTask, QStringLiteral("Off task \u00b7 checking again before nudging") },
    };
    double elapsed = 0;
    for (const Case& c : cases) {
        world.judgements.answer = [&] { return decision(c.activity, 0.6); };
        world.run(*engine, 30);
        elapsed += 30;
        EXPECT_EQ(engine->current()->detail, c.detail);
        const FocusCheck& check = engine->current()->checks.back();
        EXPECT_EQ(check.activity, c.activity);
        EXPECT_EQ(check.elapsed, elapsed);
        EXPECT_EQ(check.sampleDuration, std::optional(30.0));
        EXPECT_EQ(check.probability, 0.6);
        EXPECT_TRUE(check.probabilities.has_value());
    }
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FocusChecks, PauseWhileJudgingDropsTheVerdict)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.judgements.hold = true;
    world.run(*engine, 30);
    ASSERT_EQ(world.judgements.waiting(), 1u);
    EXPECT_TRUE(engine->checkRunning());

    // Only one check at a time, however long the judge takes.
    world.run(*engine, 40);
    EXPECT_EQ(world.classifyCalls(), 1);

    engine->pause(QStringLiteral("Paused"));
    EXPECT_FALSE(engine->checkRunning());
    const qint64 revision = engine->revision();
    world.judgements.resolve(decision(FocusActivity::offTask, 0.99));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    ASSERT_EQ(engine->current()->checks.size(), 1u);
    EXPECT_EQ(engine->current()->checks.front().activity, FocusActivity::paused);
    EXPECT_EQ(engine->revision(), revision);

    // A verdict of an old check also never lands on a resumed session.
    engine->resume();
    world.run(*engine, 30);
    ASSERT_EQ(world.judgements.waiting(), 1u);
    engine->pause(QStringLiteral("Paused"));
    engine->resume();
    world.judgements.resolve(decision(FocusActivity::offTask, 0.99));
    EXPECT_EQ(engine->current()->checks.size(), 2u) << "only the two pause markers";
}

TEST_F(FocusChecks, VerdictOlderThanTwentySecondsIsSkipped)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.judgements.hold = true;

    while (world.judgements.waiting() == 0)
        world.run(*engine, 1);
    world.clock += 20.0;
    world.judgements.resolve(decision(FocusActivity::offTask, 0.8));
    const FocusCheck fresh = engine->current()->checks.back();
    EXPECT_EQ(fresh.activity, FocusActivity::offTask);
    EXPECT_TRUE(fresh.probabilities.has_value());
    EXPECT_EQ(engine->policy().run().size(), 1u);

    while (world.judgements.waiting() == 0)
        world.run(*engine, 1);
    world.clock += 20.5;
    world.judgements.resolve(decision(FocusActivity::offTask, 0.8));
    const FocusCheck stale = engine->current()->checks.back();
    EXPECT_EQ(stale.activity, FocusActivity::unavailable);
    EXPECT_FALSE(stale.probabilities.has_value());
    EXPECT_EQ(stale.probability, 0.8);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Last check was stale; skipped"));
    EXPECT_TRUE(engine->policy().run().empty()) << "a stale verdict clears the run";
    EXPECT_EQ(engine->consecutiveFailures(), 0);
}

TEST_F(FocusChecks, FailuresBackOffAndTheFirstVerdictResets)
{
    engine->start(QStringLiteral("Write"), false, 240);
    const QString longText(200, QLatin1Char('x'));
    world.captures.answer = [&]() -> ScreenSnapshot {
        throw ScreenReaderError(ScreenReaderError::Kind::captureFailed, longText);
    };
    const double delays[] = { 30, 60, 120, 240, 300, 300 };
    const int counts[] = { 1, 2, 3, 4, 5, 5 };
    world.run(*engine, 30);
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ASSERT_EQ(world.captures.calls, i + 1);
        EXPECT_EQ(engine->consecutiveFailures(), counts[i]);
        EXPECT_EQ(engine->retryNotBefore(), world.clock + delays[i]);
        EXPECT_EQ(engine->current()->detail,
                  QStringLiteral("Check unavailable: %1. Timer continues; retrying in %2s.")
                      .arg(QString(140, QLatin1Char('x')))
                      .arg(delays[i]));
        const FocusCheck& failed = engine->current()->checks.back();
        EXPECT_EQ(failed.activity, FocusActivity::unavailable);
        EXPECT_EQ(failed.probability, 0);
        EXPECT_EQ(failed.sampleDuration, std::optional(30.0));
        EXPECT_EQ(engine->current()->status, FocusSession::Status::running);
        // The next check waits for the back-off, not only for the span.
        world.run(*engine, static_cast<int>(delays[i]) - 1);
        EXPECT_EQ(world.captures.calls, i + 1);
        world.run(*engine, 1);
    }
    world.captures.answer = [&] { return world.screen; };
    world.run(*engine, 300);
    EXPECT_EQ(engine->consecutiveFailures(), 0);
    EXPECT_EQ(engine->retryNotBefore(), 0);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("On task"));
}

TEST_F(FocusChecks, FailedCheckClearsTheOffTaskRun)
{
    startFastSession();
    world.run(*engine, 10);
    EXPECT_EQ(engine->policy().run().size(), 1u);
    world.judgements.answer = []() -> FocusDecision { throw FocusAPI::Failure(QStringLiteral("Offline.")); };
    world.run(*engine, 10);
    EXPECT_TRUE(engine->policy().run().empty());
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Check unavailable: Offline.. Timer continues; retrying in 30s."));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FocusChecks, DeclinedCapturePausesAndAsksForARecheck)
{
    ScreenCaptureAccess& access = ScreenCaptureAccess::shared();
    access.setConfirmedByCapture(true);
    engine->start(QStringLiteral("Write"), false, 25);
    world.captures.answer = []() -> ScreenSnapshot { throw ScreenReaderError::declined(); };
    world.run(*engine, 30);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
    EXPECT_EQ(engine->current()->detail,
              QStringLiteral("Screen Recording access was denied by macOS. Recheck access before resuming."));
    EXPECT_FALSE(access.confirmedByCapture());
    EXPECT_TRUE(access.needsSettings());
    EXPECT_EQ(access.message(), QStringLiteral("macOS stopped screen access. Recheck Tovrick in Screen Recording "
                                               "settings, then resume your session."));
    EXPECT_EQ(engine->consecutiveFailures(), 0) << "not a back-off failure";
    access.setNeedsSettings(false);
    access.setMessage(QString());
}

TEST_F(FocusChecks, NudgeKeepsItsTargetOnlyWhenItIsStillThere)
{
    struct Case {
        const char* name;
        QPointF move;
        QString text;
        double preparation;
        bool switchApp;
        bool keeps;
    };
    const QString cats = QStringLiteral("Funny cat videos");
    const Case cases[] = {
        { "moved 9 points", QPointF(9, 9), cats, 1, false, true },
        { "moved 12 points", QPointF(12, 0), cats, 1, false, false },
        { "text changed", QPointF(0, 0), QStringLiteral("Funny cat video"), 1, false, false },
        { "prepared in 14.9 s", QPointF(0, 0), cats, 14.9, false, true },
        { "prepared in 15 s", QPointF(0, 0), cats, 15, false, false },
        { "another app came forward", QPointF(0, 0), cats, 1, true, false },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        world.clock = 1000; // whole seconds, so the 15-second edge is exact
        engine = world.engine();
        SetUp();
        delivered.clear();
        world.front = FrontmostApp { QStringLiteral("Browser"), 100 };
        world.nudges.hold = true;
        ASSERT_NO_FATAL_FAILURE(startFastSession());
        const ScreenSnapshot judged = world.screen;
        ASSERT_NO_FATAL_FAILURE(runUntilNudgeIsPrepared());
        ASSERT_EQ(world.nudges.waiting(), 1u);
        EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 preparing a gentle nudge"));

        world.clock += c.preparation;
        if (c.switchApp)
            world.front = FrontmostApp { QStringLiteral("Editor"), 200 };
        world.screen.lines[1] = line(QStringLiteral("L7"), c.text, QRectF(QPointF(100, 300) + c.move, QSizeF(300, 20)));
        world.nudges.resolve(pointingNudge());

        ASSERT_EQ(delivered.size(), 1u);
        EXPECT_EQ(delivered[0].message, QStringLiteral("Cats can wait."));
        if (c.keeps) {
            ASSERT_TRUE(delivered[0].target.has_value());
            EXPECT_EQ(delivered[0].target->id, QStringLiteral("L7")) << "the fresh reading's line";
            EXPECT_EQ(delivered[0].target->rect, world.screen.lines[1].rect);
        } else {
            EXPECT_FALSE(delivered[0].target.has_value());
        }
        EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 Tovrick nudged you"));
        EXPECT_TRUE(engine->current()->checks.back().nudged);
        EXPECT_FALSE(engine->current()->checks.front().nudged);
        world.screen = judged;
        world.nudges.hold = false;
        engine->setDeveloperMode(false);
    }
}

TEST_F(FocusChecks, FailedPreparationStillNudgesWithTheReminder)
{
    startFastSession();
    world.nudges.answer = []() -> FocusAPI::Nudge { throw FocusAPI::Failure(QStringLiteral("Couldn't prepare a nudge.")); };
    runUntilNudgeIsPrepared();
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].message, QStringLiteral("Are you sure you're on task right now?"));
    EXPECT_FALSE(delivered[0].target.has_value());
    EXPECT_TRUE(engine->current()->checks.back().nudged);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 Tovrick nudged you"));
    EXPECT_EQ(world.captures.calls, 3) << "judged reading, nudge reading, no target re-check";
}

// A reminder whose check was overtaken must not write its text over what the user now sees.
TEST_F(FocusChecks, LateFailedPreparationLeavesNewerStateAlone)
{
    startFastSession();
    world.nudges.hold = true;
    runUntilNudgeIsPrepared();
    engine->pause(QStringLiteral("Paused"));
    world.nudges.fail(std::make_exception_ptr(FocusAPI::Failure(QStringLiteral("Timed out."))));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    EXPECT_TRUE(delivered.empty());

    engine->end();
    engine->start(QStringLiteral("Next task"), false, 25);
    world.run(*engine, 20);
    ASSERT_EQ(world.nudges.waiting(), 1u);
    engine->end();
    engine->start(QStringLiteral("Third task"), false, 25);
    world.nudges.fail(std::make_exception_ptr(FocusAPI::Failure(QStringLiteral("Timed out."))));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("First check in 10 seconds"));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FocusChecks, StuckCheckIsGivenUp)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.captures.hold = true;
    world.run(*engine, 30);
    ASSERT_TRUE(engine->checkRunning());
    world.run(*engine, static_cast<int>(FocusCompanion::kCheckDeadline));
    EXPECT_EQ(world.captures.calls, 2) << "a new check replaced the stuck one";
    world.captures.resolve(world.screen); // the old one's late reading is ignored
    EXPECT_TRUE(engine->current()->checks.empty());
    world.captures.resolve(world.screen);
    EXPECT_EQ(engine->current()->checks.size(), 1u);
}
