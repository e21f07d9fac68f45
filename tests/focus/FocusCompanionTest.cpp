#include <gtest/gtest.h>

#include <QFile>

#include <cmath>

#include "FocusFakes.h"
#include "shared/util/Settings.h"

namespace {

class FocusEngine : public ::testing::Test {
protected:
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();

    void phonePing()
    {
        engine->connected = true;
        engine->lastPing = world.clock;
    }
};

} // namespace

TEST_F(FocusEngine, StartRefusesInOrderAndChangesNothing)
{
    const QString task = QStringLiteral("Write");
    const struct {
        QString task;
        double minutes;
        bool requiresPhone, permission, account;
        const char* reply;
    } cases[] = {
        { QStringLiteral(" \n\t "), std::nan(""), true, false, false, "Tell me the task first." },
        { task, std::nan(""), true, false, false, "Use a duration between 1 and 240 minutes." },
        { task, 25, true, false, false, "Connect the paired phone first." },
        { task, 25, false, false, false, "Screen Recording access needs a recheck. Use the screen access controls below." },
        { task, 25, false, true, false, "Sign in with Apple to start a focus session." },
    };
    for (const auto& c : cases) {
        world.permission = c.permission;
        world.signedIn = c.account;
        EXPECT_EQ(engine->start(c.task, c.requiresPhone, c.minutes), QString::fromUtf8(c.reply));
        EXPECT_FALSE(engine->current().has_value());
        EXPECT_EQ(engine->revision(), 0);
    }
    EXPECT_FALSE(QFile::exists(world.signedOutFile())) << "a refused start saved";

    world.permission = world.signedIn = true;
    EXPECT_EQ(engine->start(QStringLiteral("  Write \n"), false, 0.5), QStringLiteral("Focus started: Write, 1 minutes."));
    engine->pause(QStringLiteral("Paused"));
    EXPECT_EQ(engine->start(task, false, 25),
              QStringLiteral("There's already a focus session. End it before starting another."));
    engine->end();
    EXPECT_EQ(engine->start(task, false, 500), QStringLiteral("Focus started: Write, 240 minutes."));
    engine->end();

    // A phone's start needs a focus command from it less than 5 s ago.
    engine->connected = true;
    engine->lastPing = world.clock - 5.0;
    EXPECT_EQ(engine->start(task, true, 10), QStringLiteral("Connect the paired phone first."));
    engine->lastPing = world.clock - 4.9;
    EXPECT_EQ(engine->start(task, true, 10), QStringLiteral("Focus started: Write, 10 minutes."));
}

TEST_F(FocusEngine, ResumeRefusesInOrderThenRestartsTheCheckSpan)
{
    phonePing();
    engine->start(QStringLiteral("Write"), true, 25);
    EXPECT_EQ(engine->resume(), QStringLiteral("There's no paused focus session."));
    world.run(*engine, 3);
    engine->pause(QStringLiteral("Paused"));

    world.clock += 10; // the phone has been quiet since, and paused time does not count
    world.signedIn = world.permission = false;
    EXPECT_EQ(engine->resume(), QStringLiteral("Reconnect the paired phone before resuming."));
    phonePing();
    EXPECT_EQ(engine->resume(), QStringLiteral("Sign in with Apple before resuming."));
    world.signedIn = true;
    EXPECT_EQ(engine->resume(), QStringLiteral("Screen Recording access needs a recheck before resuming."));
    world.permission = true;
    EXPECT_EQ(engine->resume(), QStringLiteral("Focus resumed."));
    EXPECT_EQ(engine->current()->elapsed, 3);

    // The next check comes one span after resuming, not after the session's start.
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(world.judgements.calls, 0);
        phonePing();
        world.run(*engine, 1);
    }
    EXPECT_EQ(world.judgements.calls, 1);
}

TEST_F(FocusEngine, TickPausesForTheFirstLostPrecondition)
{
    const struct {
        bool account, phoneFresh, unlocked;
        const char* detail;
    } cases[] = {
        { false, false, false, "Sign-in expired. Sign in again before resuming." },
        { true, false, false, "Phone disconnected. Reconnect, then resume." },
        { true, true, false, "Mac locked. Resume when ready." },
        { true, true, true, "Screen Recording access needs a recheck. Resume when access is ready." },
    };
    for (const auto& c : cases) {
        phonePing();
        ASSERT_EQ(engine->start(QStringLiteral("Write"), true, 25), QStringLiteral("Focus started: Write, 25 minutes."));
        world.clock += 1;
        engine->lastPing = c.phoneFresh ? world.clock : world.clock - 5.0;
        world.signedIn = c.account;
        world.unlocked = c.unlocked;
        world.permission = false;
        engine->tick();
        EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
        EXPECT_EQ(engine->current()->detail, QString::fromUtf8(c.detail));
        world.signedIn = world.unlocked = world.permission = true;
        engine->end();
    }
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
    EXPECT_EQ(engine->current()->usedDeveloperMode, std::optional(true));
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
        engine->start(QStringLiteral("Write"), false, 1);
        const QUuid id = engine->current()->id;
        world.clock += 61;
        if (way == 0) {
            engine->tick();
        } else if (way == 1) {
            EXPECT_EQ(engine->pause(QStringLiteral("Tovrick closed")), QStringLiteral("Focus paused."));
        } else if (way == 2) {
            engine->startObserving();
            emit world.sessionSignals.screenLocked();
        } else {
            engine->accountChanged(std::nullopt);
        }
        ASSERT_FALSE(engine->history().empty());
        EXPECT_EQ(engine->history().front().id, id);
        EXPECT_EQ(engine->history().front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
        const auto onDisk = world.engine()->history();
        ASSERT_FALSE(onDisk.empty());
        EXPECT_EQ(onDisk.front().id, id);
        EXPECT_EQ(onDisk.front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
    }

    // A clock that jumps back is dropped; the focus clock never runs backwards.
    engine->start(QStringLiteral("Next"), false, 5);
    world.run(*engine, 3);
    world.clock -= 100;
    engine->tick();
    EXPECT_EQ(engine->current()->elapsed, 3);
}
