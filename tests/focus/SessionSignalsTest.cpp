#include <gtest/gtest.h>

#include <QSignalSpy>

#include <unistd.h>

#include "FakeLogind.h"
#include "FocusFakes.h"
#include "support/RunTask.h"

namespace {

const QString kFakeConnection = QStringLiteral("fake-logind");

class LoginSession : public ::testing::Test {
protected:
    FakeLogindManager manager;
    std::unique_ptr<FakeLogindSession> session;
    QString service = QStringLiteral("org.tovrick.test.login%1").arg(::getpid());

    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
            GTEST_SKIP() << "no session bus to stand in for the system bus";
        QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kFakeConnection);
        ASSERT_TRUE(bus.isConnected());
        session = std::make_unique<FakeLogindSession>(bus);
        ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
        ASSERT_TRUE(bus.registerObject(QString::fromLatin1(FakeLogindSession::kPath), session.get(),
                                       QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties));
        ASSERT_TRUE(bus.registerService(service));
    }
    void TearDown() override
    {
        QDBusConnection bus(kFakeConnection);
        bus.unregisterService(service);
        bus.unregisterObject(QStringLiteral("/org/freedesktop/login1"));
        bus.unregisterObject(QString::fromLatin1(FakeLogindSession::kPath));
        QDBusConnection::disconnectFromBus(kFakeConnection);
    }
};

} // namespace

TEST_F(LoginSession, LockSleepAndSwitchReachTheEngine)
{
    LogindSessionSignals watcher(QDBusConnection::sessionBus(), service);
    QSignalSpy ready(&watcher, &LogindSessionSignals::ready);
    ASSERT_TRUE(waitUntil([&] { return ready.count() > 0; }));
    EXPECT_EQ(watcher.sessionPath(), QString::fromLatin1(FakeLogindSession::kPath));
    EXPECT_TRUE(watcher.screenUnlocked());

    FocusWorld world;
    FocusEnvironment environment = world.environment();
    environment.sessionSignals = &watcher;
    environment.screenUnlocked = [&] { return watcher.screenUnlocked(); };
    FocusCompanion engine(environment);
    engine.startObserving();
    auto detail = [&] { return engine.current() ? engine.current()->detail : QString(); };

    engine.start(QStringLiteral("Write"), false, 25);
    emit session->Lock();
    ASSERT_TRUE(waitUntil([&] { return detail() == QStringLiteral("Mac locked. Resume when you're ready."); }));
    engine.resume();

    emit manager.PrepareForSleep(false); // waking up pauses nothing
    emit manager.PrepareForSleep(true);
    ASSERT_TRUE(waitUntil([&] { return detail() == QStringLiteral("Mac sleeping or locked. Resume when you're ready."); }));
    engine.resume();

    session->setActive(false);
    ASSERT_TRUE(waitUntil([&] { return !watcher.screenUnlocked(); }));
    EXPECT_EQ(detail(), QStringLiteral("Mac sleeping or locked. Resume when you're ready."));
    session->setActive(true);
    ASSERT_TRUE(waitUntil([&] { return watcher.screenUnlocked(); }));
    engine.resume();

    // The locker set the hint: the notice pauses, and the tick keeps a resumed session paused.
    session->setLockedHint(true);
    ASSERT_TRUE(waitUntil([&] { return !watcher.screenUnlocked(); }));
    EXPECT_EQ(detail(), QStringLiteral("Mac locked. Resume when you're ready."));
    EXPECT_EQ(engine.resume(), QStringLiteral("Focus resumed."));
    world.run(engine, 1);
    EXPECT_EQ(detail(), QStringLiteral("Mac locked. Resume when ready."));
    engine.stopObserving();
}

TEST_F(LoginSession, WithoutASessionTheScreenCountsAsUnlocked)
{
    const QByteArray savedId = qgetenv("XDG_SESSION_ID");
    qunsetenv("XDG_SESSION_ID");
    manager.knowsSession = false;
    LogindSessionSignals watcher(QDBusConnection::sessionBus(), service);
    ASSERT_TRUE(waitUntil([&] { return manager.sessionRequests == 1; }));
    QSignalSpy ready(&watcher, &LogindSessionSignals::ready);
    EXPECT_FALSE(ready.wait(200));
    EXPECT_TRUE(watcher.screenUnlocked());
    EXPECT_TRUE(watcher.sessionPath().isEmpty());
    if (!savedId.isEmpty())
        qputenv("XDG_SESSION_ID", savedId);

    // No login manager at all, and no bus at all.
    LogindSessionSignals nobody(QDBusConnection::sessionBus(), QStringLiteral("org.tovrick.test.nobody"));
    LogindSessionSignals noBus(QDBusConnection(QStringLiteral("not-connected")));
    EXPECT_FALSE(QSignalSpy(&nobody, &LogindSessionSignals::ready).wait(200));
    EXPECT_TRUE(nobody.screenUnlocked());
    EXPECT_TRUE(noBus.screenUnlocked());
}

TEST(Uptime, IsMonotonicSeconds)
{
    const double first = uptimeSeconds();
    EXPECT_GT(first, 0);
    EXPECT_GE(uptimeSeconds(), first);
}
