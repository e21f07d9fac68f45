#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>

#include <unistd.h>

#include "Tovrick/focus/SessionSignals.h"

namespace {

constexpr auto kSessionPath = "/org/freedesktop/login1/session/_32";
const QString kFakeConnection = QStringLiteral("fake-logind");

// A login manager on the test's session bus, under a name of its own.
class FakeLogindManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")
public slots:
    QDBusObjectPath GetSessionByPID(uint) { return QDBusObjectPath(QString::fromLatin1(kSessionPath)); }
signals:
    void PrepareForSleep(bool start);
    void PrepareForShutdown(bool start);
};

class FakeLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint MEMBER lockedHint)
public:
    bool lockedHint = false;
    void setLockedHint(bool locked)
    {
        lockedHint = locked;
        announce(QStringLiteral("LockedHint"), locked);
    }
    void announce(const QString& property, const QVariant& value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kSessionPath),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.login1.Session") << QVariantMap { { property, value } }
               << QStringList();
        QDBusConnection(kFakeConnection).send(signal);
    }
signals:
    void Lock();
};

} // namespace

TEST(LoginSession, LockSleepAndLockedHintAreHeard)
{
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS"))
        GTEST_SKIP() << "no session bus to stand in for the system bus";
    FakeLogindManager manager;
    FakeLogindSession session;
    const QString service = QStringLiteral("org.tovrick.test.login%1").arg(::getpid());
    QDBusConnection bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, kFakeConnection);
    ASSERT_TRUE(bus.registerObject(QStringLiteral("/org/freedesktop/login1"), &manager,
                                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    ASSERT_TRUE(bus.registerObject(QString::fromLatin1(kSessionPath), &session,
                                   QDBusConnection::ExportAllSignals | QDBusConnection::ExportAllProperties));
    ASSERT_TRUE(bus.registerService(service));

    LogindSessionSignals watcher(QDBusConnection::sessionBus(), service);
    ASSERT_TRUE(QSignalSpy(&watcher, &LogindSessionSignals::ready).wait(10000));
    EXPECT_TRUE(watcher.screenUnlocked());
    QSignalSpy locked(&watcher, &SessionSignals::screenLocked);
    QSignalSpy away(&watcher, &SessionSignals::sleepingOrSwitchedAway);
    emit session.Lock();
    ASSERT_TRUE(locked.wait(10000));
    emit manager.PrepareForSleep(false); // waking up is no notice
    emit manager.PrepareForSleep(true);
    ASSERT_TRUE(away.wait(10000));

    // The locker set the hint: a notice, and the screen counts as locked from then on.
    session.setLockedHint(true);
    ASSERT_TRUE(locked.wait(10000));
    EXPECT_FALSE(watcher.screenUnlocked());
    EXPECT_EQ(away.count(), 1) << "the wake-up, heard before the hint, was no notice";

    // The session closing and the machine going down both say: end now, once.
    QSignalSpy ending(&watcher, &SessionSignals::ending);
    emit manager.PrepareForShutdown(false);
    session.announce(QStringLiteral("State"), QStringLiteral("active"));
    session.announce(QStringLiteral("State"), QStringLiteral("closing"));
    ASSERT_TRUE(ending.wait(10000));
    emit manager.PrepareForShutdown(true);
    QSignalSpy(&watcher, &SessionSignals::screenLocked).wait(300);
    EXPECT_EQ(ending.count(), 1);
    EXPECT_EQ(away.count(), 1);

    LogindSessionSignals second(QDBusConnection::sessionBus(), service);
    ASSERT_TRUE(QSignalSpy(&second, &LogindSessionSignals::ready).wait(10000));
    QSignalSpy shutdown(&second, &SessionSignals::ending);
    emit manager.PrepareForShutdown(true);
    ASSERT_TRUE(shutdown.wait(10000));
    QDBusConnection::disconnectFromBus(kFakeConnection);
}

#include "SessionSignalsTest.moc"
