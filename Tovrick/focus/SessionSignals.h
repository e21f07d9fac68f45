#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// Seconds since boot that stop while the machine is suspended (CLOCK_MONOTONIC), so a session's
// clock does not count the time the computer slept.
double uptimeSeconds();

// What the focus engine hears of the desktop session: the screen locking, the machine going to
// sleep, the session being switched away from. The base class never fires and always reports the
// screen unlocked; tests emit its signals directly.
class SessionSignals : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool screenUnlocked() const { return true; }

signals:
    void screenLocked();
    // Sleep is coming, or another session took over the display.
    void sleepingOrSwitchedAway();
    // The login session is closing or the machine is shutting down: time to quit in order.
    void ending();
};

// The login manager over D-Bus: the manager's PrepareForSleep and PrepareForShutdown, and the Lock
// signal and the LockedHint, Active and State properties of the session this process runs in. Without a login manager
// (no system bus, no service, no session for this process) it stays silent and reports the screen
// unlocked. Property values are cached from change signals so the 1-second tick never blocks on
// the bus.
class LogindSessionSignals : public SessionSignals {
    Q_OBJECT

public:
    static constexpr auto kService = "org.freedesktop.login1";

    explicit LogindSessionSignals(QDBusConnection bus = QDBusConnection::systemBus(),
                                  QString service = QString::fromLatin1(kService), QObject* parent = nullptr);

    bool screenUnlocked() const override;
    // The session object being watched; empty until (unless) one was found.
    QString sessionPath() const { return m_sessionPath; }

signals:
    // The session was found and its properties were read once.
    void ready();

private slots:
    void onPrepareForSleep(bool goingToSleep);
    void onPrepareForShutdown(bool goingDown);
    void onLock();
    void onPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                             const QStringList& invalidated);

private:
    void findSession();
    void askForSession(const QString& method, const QVariant& argument, bool fallBackToEnvironment);
    void watchSession(const QString& path);
    void readProperties();
    void applyProperties(const QVariantMap& values);

    QDBusConnection m_bus;
    QString m_service;
    QString m_sessionPath;
    bool m_lockedHint = false;
    bool m_active = true;
    bool m_ending = false;
};
