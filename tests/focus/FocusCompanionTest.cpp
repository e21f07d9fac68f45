#include <gtest/gtest.h>

#include <QFile>

#include <cmath>
#include <limits>

#include "FocusFakes.h"
#include "shared/util/Files.h"
#include "shared/util/Settings.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

class FocusEngine : public ::testing::Test {
protected:
    FocusWorld world;
    std::unique_ptr<FocusCompanion> engine = world.engine();

    QString signedOutFile() const { return world.historyFolder() + QStringLiteral("/focus-history-signed-out.json"); }
    std::vector<FocusSession> stored(const QString& path) const
    {
        const auto bytes = files::read(path);
        return bytes ? decodeFocusSessions(*bytes) : std::vector<FocusSession> {};
    }
    void phonePing()
    {
        engine->connected = true;
        engine->lastPing = world.clock;
    }
};

} // namespace

TEST_F(FocusEngine, StartRefusesInOrderAndChangesNothing)
{
    struct Case {
        const char* name;
        QString task;
        double minutes;
        bool requiresPhone;
        bool phone, permission, account;
        QString reply;
    };
    const QString task = QStringLiteral("Write");
    const Case cases[] = {
        { "blank task beats everything", QStringLiteral(" \n\t "), kNaN, true, false, false, false,
          QStringLiteral("Tell me the task first.") },
        { "minutes not a number", task, kNaN, true, false, false, false,
          QStringLiteral("Use a duration between 1 and 240 minutes.") },
        { "minutes infinite", task, kInfinity, false, true, true, true,
          QStringLiteral("Use a duration between 1 and 240 minutes.") },
        { "phone before permission", task, 25, true, false, false, false,
          QStringLiteral("Connect the paired phone first.") },
        { "permission before account", task, 25, false, false, false, false,
          QStringLiteral("Screen Recording access needs a recheck. Use the screen access controls below.") },
        { "account", task, 25, false, false, true, false, QStringLiteral("Sign in with Apple to start a focus session.") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        engine->connected = c.phone;
        engine->lastPing = c.phone ? world.clock : -kInfinity;
        world.permission = c.permission;
        world.signedIn = c.account;
        const qint64 revision = engine->revision();
        EXPECT_EQ(engine->start(c.task, c.requiresPhone, c.minutes), c.reply);
        EXPECT_FALSE(engine->current().has_value());
        EXPECT_EQ(engine->revision(), revision);
    }
    EXPECT_FALSE(QFile::exists(signedOutFile())) << "a refused start saved";

    world.permission = world.signedIn = true;
    ASSERT_EQ(engine->start(task, false, 25), QStringLiteral("Focus started: Write, 25 minutes."));
    engine->pause(QStringLiteral("Paused"));
    EXPECT_EQ(engine->start(task, false, 25),
              QStringLiteral("There's already a focus session. End it before starting another."));
}

TEST_F(FocusEngine, StartTrimsClampsAndWaitsForAFreshPing)
{
    EXPECT_EQ(engine->start(QStringLiteral("  Write the report \n"), false, 0.5),
              QStringLiteral("Focus started: Write the report, 1 minutes."));
    EXPECT_EQ(engine->current()->task, QStringLiteral("Write the report"));
    EXPECT_EQ(engine->current()->duration, 60);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("First check in 30 seconds"));
    EXPECT_EQ(stored(signedOutFile()).size(), 1u) << "start saves";
    engine->end();

    EXPECT_EQ(engine->start(QStringLiteral("Write"), false, 500), QStringLiteral("Focus started: Write, 240 minutes."));
    EXPECT_EQ(engine->current()->duration, 14400);
    engine->end();

    // The assistant's start needs a focus command from the phone less than 5 s ago.
    engine->connected = true;
    engine->lastPing = world.clock - 5.0;
    EXPECT_EQ(engine->start(QStringLiteral("Write"), true, 10), QStringLiteral("Connect the paired phone first."));
    engine->lastPing = world.clock - 4.9;
    EXPECT_EQ(engine->start(QStringLiteral("Write"), true, 10), QStringLiteral("Focus started: Write, 10 minutes."));
    EXPECT_TRUE(engine->sessionRequiresPhone());
}

TEST_F(FocusEngine, ResumeRefusesInOrderThenRestartsTheCheckSpan)
{
    EXPECT_EQ(engine->resume(), QStringLiteral("There's no paused focus session."));
    phonePing();
    engine->start(QStringLiteral("Write"), true, 25);
    EXPECT_EQ(engine->resume(), QStringLiteral("There's no paused focus session."));
    world.run(*engine, 3);
    engine->pause(QStringLiteral("Paused"));

    world.clock += 10; // the phone has been quiet since
    world.signedIn = world.permission = false;
    EXPECT_EQ(engine->resume(), QStringLiteral("Reconnect the paired phone before resuming."));
    phonePing();
    EXPECT_EQ(engine->resume(), QStringLiteral("Sign in with Apple before resuming."));
    world.signedIn = true;
    EXPECT_EQ(engine->resume(), QStringLiteral("Screen Recording access needs a recheck before resuming."));
    world.permission = true;
    world.unlocked = false; // the lock is not a resume test; the tick pauses again for it
    EXPECT_EQ(engine->resume(), QStringLiteral("Focus resumed."));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Resumed. Next check in 30 seconds"));
    EXPECT_EQ(engine->lastCheck(), engine->current()->elapsed);
    world.unlocked = true;

    // The next check comes one span after resuming, not after the session's start.
    for (int i = 0; i < 29; ++i) {
        phonePing();
        world.run(*engine, 1);
    }
    EXPECT_EQ(world.classifyCalls(), 0);
    phonePing();
    world.run(*engine, 1);
    EXPECT_EQ(world.classifyCalls(), 1);
}

TEST_F(FocusEngine, TickPausesForTheFirstLostPrecondition)
{
    struct Case {
        const char* name;
        bool account, phoneFresh, unlocked, permission;
        QString detail;
    };
    const Case cases[] = {
        { "all lost", false, false, false, false, QStringLiteral("Sign-in expired. Sign in again before resuming.") },
        { "phone silent", true, false, false, false, QStringLiteral("Phone disconnected. Reconnect, then resume.") },
        { "locked", true, true, false, false, QStringLiteral("Mac locked. Resume when ready.") },
        { "capture", true, true, true, false,
          QStringLiteral("Screen Recording access needs a recheck. Resume when access is ready.") },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        phonePing();
        ASSERT_EQ(engine->start(QStringLiteral("Write"), true, 25), QStringLiteral("Focus started: Write, 25 minutes."));
        world.clock += 1;
        engine->lastPing = c.phoneFresh ? world.clock : world.clock - 5.0;
        world.signedIn = c.account;
        world.unlocked = c.unlocked;
        world.permission = c.permission;
        engine->tick();
        EXPECT_EQ(engine->current()->status, FocusSession::Status::paused);
        EXPECT_EQ(engine->current()->detail, c.detail);
        EXPECT_EQ(engine->current()->checks.back().activity, FocusActivity::paused);
        world.signedIn = world.unlocked = world.permission = true;
        engine->end();
    }

    // A session started from the window never looks at the phone.
    engine->connected = false;
    engine->start(QStringLiteral("Write"), false, 25);
    world.run(*engine, 10);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::running);
    EXPECT_EQ(engine->current()->elapsed, 10);
}

TEST_F(FocusEngine, LockAndSleepNoticesPause)
{
    engine->startObserving();
    engine->start(QStringLiteral("Write"), false, 25);
    emit world.sessionSignals.screenLocked();
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Mac locked. Resume when you're ready."));
    engine->resume();
    emit world.sessionSignals.sleepingOrSwitchedAway();
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Mac sleeping or locked. Resume when you're ready."));
    emit world.sessionSignals.screenLocked(); // a paused session is left alone
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Mac sleeping or locked. Resume when you're ready."));
    engine->stopObserving();
}

TEST_F(FocusEngine, ClockRunsAtTheSessionRateAndTimeUpArchives)
{
    engine->start(QStringLiteral("Write"), false, 1);
    world.run(*engine, 29);
    EXPECT_EQ(world.classifyCalls(), 0);
    world.run(*engine, 1);
    EXPECT_EQ(world.classifyCalls(), 1) << "the first check is due at 30 focus seconds";

    // A clock that jumps back is dropped; the focus clock never runs backwards.
    world.clock -= 100;
    engine->tick();
    EXPECT_EQ(engine->current()->elapsed, 30);

    std::vector<FocusSync> sent;
    engine->onChange = [&](const FocusSync& sync) { sent.push_back(sync); };
    world.run(*engine, 30);
    EXPECT_EQ(engine->current()->status, FocusSession::Status::ended);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Time's up. Lovely bit of focus."));
    ASSERT_EQ(engine->history().size(), 1u);
    EXPECT_EQ(engine->history().front().id, engine->current()->id);
    EXPECT_EQ(stored(signedOutFile()).front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.back().history.size(), 1u);
    EXPECT_EQ(sent.back().developerMode, std::optional(false));
    for (std::size_t i = 1; i < sent.size(); ++i)
        EXPECT_EQ(sent[i].revision, sent[i - 1].revision + 1);
    EXPECT_EQ(engine->start(QStringLiteral("Next"), false, 5), QStringLiteral("Focus started: Next, 5 minutes."));

    // Developer mode: 4 focus seconds a real second, first check after 10 real seconds.
    engine->end();
    engine->setDeveloperMode(true);
    engine->start(QStringLiteral("Fast"), false, 25);
    const int before = world.classifyCalls();
    world.run(*engine, 9);
    EXPECT_EQ(engine->current()->elapsed, 36);
    EXPECT_EQ(world.classifyCalls(), before);
    world.run(*engine, 1);
    EXPECT_EQ(world.classifyCalls(), before + 1);
}

TEST_F(FocusEngine, DeveloperModeSwitch)
{
    Settings::shared().remove(FocusCompanion::kDeveloperModeKey);
    FocusEnvironment environment = world.environment();
    environment.settings = &Settings::shared();
    engine = std::make_unique<FocusCompanion>(environment);
    EXPECT_FALSE(engine->developerMode());

    EXPECT_EQ(engine->setDeveloperMode(false), QStringLiteral("Developer Mode is already off."));
    engine->start(QStringLiteral("Write"), false, 25);
    world.run(*engine, 10);
    EXPECT_EQ(engine->setDeveloperMode(true), QStringLiteral("Developer Mode on: clock 4\u00d7, checks every 10 seconds."));
    EXPECT_EQ(Settings::shared().boolValue(FocusCompanion::kDeveloperModeKey), std::optional(true));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Developer Mode: clock 4\u00d7, next check in 10 seconds"));
    EXPECT_EQ(engine->policy().maximumGap(), 60);
    EXPECT_TRUE(engine->policy().developerMode());
    EXPECT_EQ(engine->lastCheck(), 10);
    const qint64 revision = engine->revision();
    EXPECT_EQ(engine->setDeveloperMode(true), QStringLiteral("Developer Mode is already on."));
    EXPECT_EQ(engine->revision(), revision);

    world.run(*engine, 2);
    EXPECT_EQ(engine->current()->elapsed, 18);
    EXPECT_EQ(engine->setDeveloperMode(false), QStringLiteral("Developer Mode off: normal clock, checks every 30 seconds."));
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Normal speed. Next check in 30 seconds"));
    EXPECT_EQ(engine->current()->usedDeveloperMode, std::optional(true));
    EXPECT_EQ(engine->policy().maximumGap(), 45);

    // A new engine reads the stored flag.
    engine->setDeveloperMode(true);
    engine.reset();
    engine = std::make_unique<FocusCompanion>(environment);
    EXPECT_TRUE(engine->developerMode());
    Settings::shared().remove(FocusCompanion::kDeveloperModeKey);
}

TEST_F(FocusEngine, TestNudgeNeedsDeveloperModeAndSignInOnly)
{
    std::vector<QString> nudges;
    engine->onNudge = [&](const QString& message, const std::optional<Target>& target) {
        nudges.push_back(message);
        EXPECT_FALSE(target.has_value());
    };
    EXPECT_EQ(engine->sendTestNudge(), QStringLiteral("Enable Developer Mode and sign in first."));
    engine->setDeveloperMode(true);
    world.signedIn = false;
    EXPECT_EQ(engine->sendTestNudge(), QStringLiteral("Enable Developer Mode and sign in first."));
    world.signedIn = true;
    EXPECT_EQ(engine->sendTestNudge(), QStringLiteral("Test nudge sent to the Mac and phone."));
    EXPECT_EQ(nudges, std::vector { QStringLiteral("Oi, back to the mission. This is your test nudge.") });
    EXPECT_FALSE(engine->current().has_value());
}

TEST_F(FocusEngine, PauseAndEnd)
{
    EXPECT_EQ(engine->pause(QStringLiteral("Paused")), QStringLiteral("Focus is already paused or ended."));
    EXPECT_EQ(engine->end(), QStringLiteral("There's no running focus session."));
    engine->start(QStringLiteral("Write"), false, 25);
    world.run(*engine, 12);
    EXPECT_EQ(engine->pause(QStringLiteral("Paused")), QStringLiteral("Focus paused."));
    const qint64 revision = engine->revision();
    EXPECT_EQ(engine->pause(QStringLiteral("Again")), QStringLiteral("Focus is already paused or ended."));
    EXPECT_EQ(engine->revision(), revision);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Paused"));

    world.clock += 300; // paused time does not count
    EXPECT_EQ(engine->end(), QStringLiteral("Focus finished. Your session is saved in focus history."));
    EXPECT_EQ(engine->current()->elapsed, 12);
    EXPECT_EQ(engine->current()->detail, QStringLiteral("Session finished"));
    EXPECT_EQ(engine->history().front().id, engine->current()->id);
    EXPECT_EQ(engine->end(), QStringLiteral("There's no running focus session."));
}

// Time that runs out between two ticks ends the session inside the pause itself; the finished
// session must still reach the history, whichever pause found it.
TEST_F(FocusEngine, PauseThatRunsOutTheClockKeepsTheSession)
{
    struct Case {
        const char* name;
        std::function<void(FocusCompanion&, FocusWorld&)> pause;
    };
    const Case cases[] = {
        { "shutdown", [](FocusCompanion& e, FocusWorld&) {
              EXPECT_EQ(e.pause(QStringLiteral("Tovrick closed")), QStringLiteral("Focus paused."));
          } },
        { "lock notice", [](FocusCompanion& e, FocusWorld& w) {
              e.startObserving();
              emit w.sessionSignals.screenLocked();
          } },
        { "account change", [](FocusCompanion& e, FocusWorld&) { e.accountChanged(std::nullopt); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(signedOutFile());
        engine = world.engine();
        engine->start(QStringLiteral("Write"), false, 1);
        const QUuid id = engine->current()->id;
        world.clock += 61;
        c.pause(*engine, world);
        ASSERT_FALSE(engine->history().empty());
        EXPECT_EQ(engine->history().front().id, id);
        EXPECT_EQ(engine->history().front().status, FocusSession::Status::ended);
        EXPECT_EQ(engine->history().front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
        const auto onDisk = stored(signedOutFile());
        ASSERT_FALSE(onDisk.empty());
        EXPECT_EQ(onDisk.front().id, id);
        EXPECT_EQ(onDisk.front().detail, QStringLiteral("Time's up. Lovely bit of focus."));
    }
}

TEST_F(FocusEngine, AccountChangeSwitchesHistories)
{
    engine->start(QStringLiteral("Signed out work"), false, 25);
    world.run(*engine, 5);
    const QUuid first = engine->current()->id;
    engine->accountChanged(QStringLiteral("user-1"));
    EXPECT_FALSE(engine->current().has_value());
    EXPECT_TRUE(engine->history().empty());
    EXPECT_EQ(engine->historyFile(),
              world.historyFolder()
                  + QStringLiteral("/focus-history-c6c289e49e9c05b2145860387b73bcb18df43fb09a1e4a4a9713c76c88bb541b.json"));
    EXPECT_FALSE(QFile::exists(engine->historyFile())) << "switching accounts writes nothing";
    const auto old = stored(signedOutFile());
    ASSERT_EQ(old.size(), 1u);
    EXPECT_EQ(old.front().id, first);
    EXPECT_EQ(old.front().detail, QStringLiteral("App closed or restarted"));
    EXPECT_EQ(old.front().checks.back().activity, FocusActivity::paused) << "paused with \"Account changed\" first";

    // A paused session of the old account is dropped from memory without being archived.
    engine->start(QStringLiteral("Account work"), false, 25);
    engine->pause(QStringLiteral("Paused"));
    engine->accountChanged(std::nullopt);
    EXPECT_FALSE(engine->current().has_value());
    EXPECT_EQ(engine->historyFile(), signedOutFile());
    ASSERT_EQ(engine->history().size(), 1u);
    EXPECT_EQ(engine->history().front().id, first);
}
