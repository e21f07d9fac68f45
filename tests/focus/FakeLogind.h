#pragma once

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QVariantMap>

// A login manager on the test's session bus, under a name of its own: the manager's
// GetSessionByPID and PrepareForSleep, and one session with Lock, LockedHint and Active.
class FakeLogindSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Session")
    Q_PROPERTY(bool LockedHint READ lockedHint)
    Q_PROPERTY(bool Active READ active)

public:
    static constexpr auto kPath = "/org/freedesktop/login1/session/_32";

    explicit FakeLogindSession(QDBusConnection bus) : m_bus(std::move(bus)) {}

    bool lockedHint() const { return m_lockedHint; }
    bool active() const { return m_active; }

    void setLockedHint(bool locked) { change(QStringLiteral("LockedHint"), m_lockedHint = locked); }
    void setActive(bool active) { change(QStringLiteral("Active"), m_active = active); }

signals:
    void Lock();
    void Unlock();

private:
    void change(const QString& name, bool value)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(kPath),
                                                         QStringLiteral("org.freedesktop.DBus.Properties"),
                                                         QStringLiteral("PropertiesChanged"));
        signal << QStringLiteral("org.freedesktop.login1.Session") << QVariantMap { { name, value } } << QStringList();
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    bool m_lockedHint = false;
    bool m_active = true;
};

class FakeLogindManager : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    bool knowsSession = true;
    int sessionRequests = 0;

public slots:
    QDBusObjectPath GetSessionByPID(uint)
    {
        ++sessionRequests;
        if (!knowsSession) {
            // As the manager answers for a process outside any session.
            sendErrorReply(QStringLiteral("org.freedesktop.login1.NoSessionForPID"), QStringLiteral("no session"));
            return QDBusObjectPath();
        }
        return QDBusObjectPath(QString::fromLatin1(FakeLogindSession::kPath));
    }

signals:
    void PrepareForSleep(bool start);
};
