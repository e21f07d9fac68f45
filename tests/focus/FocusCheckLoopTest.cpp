#include <gtest/gtest.h>

#include "FocusFakes.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"

namespace {

class FocusChecks : public ::testing::Test {
protected:
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();
    std::vector<std::pair<QString, std::optional<Target>>> delivered;

    // Developer mode (a check every 10 s): two sure off-task checks ask for a nudge after 20 s.
    void startFastSession()
    {
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

TEST_F(FocusChecks, PauseWhileJudgingDropsTheVerdict)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.judgements.hold = true;
    world.run(*engine, 70);
    EXPECT_EQ(world.judgements.calls, 1) << "one check at a time, however long the judge takes";
    engine->pause(QStringLiteral("Paused"));
    const qint64 revision = engine->revision();
    world.judgements.resolve(decision(FocusActivity::offTask, 0.99));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    EXPECT_EQ(engine->revision(), revision);

    // Nor does an old check's verdict land on the session once it is resumed.
    engine->resume();
    world.run(*engine, 30);
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
    EXPECT_EQ(engine->current()->checks.back().activity, FocusActivity::offTask);
    EXPECT_EQ(engine->policy().run().size(), 1u);

    while (world.judgements.waiting() == 0)
        world.run(*engine, 1);
    world.clock += 20.5;
    world.judgements.resolve(decision(FocusActivity::offTask, 0.8));
    EXPECT_EQ(engine->current()->checks.back().activity, FocusActivity::unavailable);
    EXPECT_FALSE(engine->current()->checks.back().probabilities.has_value());
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Last check was stale; skipped"));
    EXPECT_TRUE(engine->policy().run().empty()) << "a stale verdict clears the off-task run";
}

TEST_F(FocusChecks, FailuresBackOffAndTheFirstVerdictResets)
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
                                                 .arg(QString(140, QLatin1Char('x')))
                                                 .arg(delay));
        world.run(*engine, delay - 1);
        EXPECT_EQ(world.captures.calls, calls) << "the next check waits for the back-off of " << delay;
        world.run(*engine, 1);
        ++calls;
    }
    EXPECT_EQ(engine->current()->status, FocusSession::Status::running);
    world.captures.answer = [&] { return world.screen; };
    world.run(*engine, 300);
    EXPECT_EQ(engine->consecutiveFailures(), 0);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("On task"));
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
    EXPECT_EQ(engine->consecutiveFailures(), 0) << "not a back-off failure";
    access.setNeedsSettings(false);
    access.setMessage(QString());
}

TEST_F(FocusChecks, NudgeKeepsItsTargetOnlyWhenItIsStillThere)
{
    const struct {
        QPointF move;
        double preparation;
        bool switchApp, keeps;
        const char* text = "Funny cat videos";
    } cases[] = {
        { QPointF(9, 9), 1, false, true },   { QPointF(12, 0), 1, false, false }, { QPointF(0, 12), 1, false, false },
        { QPointF(0, 0), 14.9, false, true }, { QPointF(0, 0), 15, false, false }, { QPointF(0, 0), 1, true, false },
        { QPointF(0, 0), 1, false, false, "Funny cat video" },
    };
    const ScreenSnapshot judged = world.screen;
    const Target cats { QStringLiteral("L2"), QStringLiteral("Funny cat videos"), QRectF(100, 300, 300, 20) };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - cases);
        world.clock = 1000; // whole seconds, so the 15-second edge is exact
        world.screen = judged;
        world.front = FrontmostApp { QStringLiteral("Browser"), 100 };
        world.nudges.hold = true;
        delivered.clear();
        startFastSession();
        world.run(*engine, 20);
        world.clock += c.preparation;
        if (c.switchApp)
            world.front = FrontmostApp { QStringLiteral("Editor"), 200 };
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
        EXPECT_FALSE(engine->current()->checks.front().nudged);
    }
}

// The reminder stands in for a failed preparation, but one whose check was overtaken must not
// write its text over what the user now sees.
TEST_F(FocusChecks, FailedPreparationRemindsOnlyWhileItsCheckIsCurrent)
{
    startFastSession();
    world.nudges.hold = true;
    world.run(*engine, 20);
    const auto timedOut = std::make_exception_ptr(FocusAPI::Failure(QStringLiteral("Timed out.")));
    world.nudges.fail(timedOut);
    ASSERT_EQ(delivered.size(), 1u);
    EXPECT_EQ(delivered[0].first, QStringLiteral("Are you sure you're on task right now?"));
    EXPECT_FALSE(delivered[0].second.has_value());
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Off task \u00b7 Tovrick nudged you"));
    EXPECT_EQ(world.captures.calls, 3) << "judged reading, nudge reading, no target re-check";

    // Overtaken by a pause, then by a new session.
    delivered.clear();
    engine->end();
    engine->start(QStringLiteral("Next task"), false, 25);
    world.run(*engine, 20);
    engine->pause(QStringLiteral("Paused"));
    world.nudges.fail(timedOut);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));
    engine->end();
    engine->start(QStringLiteral("Third task"), false, 25);
    world.run(*engine, 20);
    engine->end();
    engine->start(QStringLiteral("Fourth task"), false, 25);
    world.nudges.fail(timedOut);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("First check in 10 seconds"));
    EXPECT_TRUE(delivered.empty());
}

TEST_F(FocusChecks, StuckCheckIsGivenUp)
{
    engine->start(QStringLiteral("Write"), false, 25);
    world.captures.hold = true;
    world.run(*engine, 30 + static_cast<int>(FocusCompanion::kCheckDeadline));
    EXPECT_EQ(world.captures.calls, 2) << "a new check replaced the stuck one";
    world.captures.resolve(world.screen); // the old one's late reading is ignored
    EXPECT_TRUE(engine->current()->checks.empty());
    world.captures.resolve(world.screen);
    EXPECT_EQ(engine->current()->checks.size(), 1u);
}
