#include "Tovrick/focus/SessionSignals.h"

#include <utility>

#include "shared/util/Log.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

#include <ctime>
#include <unistd.h>

namespace {

constexpr auto kManagerPath = "/org/freedesktop/login1";
constexpr auto kManagerInterface = "org.freedesktop.login1.Manager";
constexpr auto kSessionInterface = "org.freedesktop.login1.Session";
constexpr auto kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr int kCallTimeoutMs = 5000;

} // namespace

double uptimeSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

LogindSessionSignals::LogindSessionSignals(QDBusConnection bus, QString service, QObject* parent)
    : SessionSignals(parent), m_bus(std::move(bus)), m_service(std::move(service))
{
    if (!m_bus.isConnected())
        return;
    m_bus.connect(m_service, QString::fromLatin1(kManagerPath), QString::fromLatin1(kManagerInterface),
                  QStringLiteral("PrepareForSleep"), this, SLOT(onPrepareForSleep(bool)));
    m_bus.connect(m_service, QString::fromLatin1(kManagerPath), QString::fromLatin1(kManagerInterface),
                  QStringLiteral("PrepareForShutdown"), this, SLOT(onPrepareForShutdown(bool)));
    findSession();
}

bool LogindSessionSignals::screenUnlocked() const
{
    return !m_lockedHint && m_active;
}

void LogindSessionSignals::findSession()
{
    askForSession(QStringLiteral("GetSessionByPID"), QVariant::fromValue(static_cast<quint32>(::getpid())), true);
}

void LogindSessionSignals::askForSession(const QString& method, const QVariant& argument,
                                         bool fallBackToEnvironment)
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, QString::fromLatin1(kManagerPath),
                                                       QString::fromLatin1(kManagerInterface), method);
    call << argument;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, fallBackToEnvironment](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (!reply.isError()) {
                    watchSession(reply.value().path());
                    return;
                }
                // A process started outside the session (a user service) still has its session's id.
                const QString id = qEnvironmentVariable("XDG_SESSION_ID");
                if (fallBackToEnvironment && !id.isEmpty()) {
                    askForSession(QStringLiteral("GetSession"), id, false);
                    return;
                }
                logline::info(QStringLiteral("no login session to watch (%1); the screen counts as unlocked")
                                  .arg(reply.error().name()));
            });
}

void LogindSessionSignals::watchSession(const QString& path)
{
    m_sessionPath = path;
    m_bus.connect(m_service, path, QString::fromLatin1(kSessionInterface), QStringLiteral("Lock"), this,
                  SLOT(onLock()));
    m_bus.connect(m_service, path, QString::fromLatin1(kPropertiesInterface), QStringLiteral("PropertiesChanged"),
                  this, SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
    readProperties();
}

void LogindSessionSignals::readProperties()
{
    QDBusMessage call = QDBusMessage::createMethodCall(m_service, m_sessionPath,
                                                       QString::fromLatin1(kPropertiesInterface),
                                                       QStringLiteral("GetAll"));
    call << QString::fromLatin1(kSessionInterface);
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* finished) {
        finished->deleteLater();
        QDBusPendingReply<QVariantMap> reply = *finished;
        if (reply.isError()) {
            logline::warning(QStringLiteral("could not read the login session: %1").arg(reply.error().name()));
            return;
        }
        applyProperties(reply.value());
        emit ready();
    });
}

void LogindSessionSignals::applyProperties(const QVariantMap& values)
{
    const bool wasUnlocked = screenUnlocked();
    const bool wasActive = m_active;
    if (auto hint = values.find(QStringLiteral("LockedHint")); hint != values.end())
        m_lockedHint = hint->toBool();
    if (auto active = values.find(QStringLiteral("Active")); active != values.end())
        m_active = active->toBool();
    if (wasActive && !m_active)
        emit sleepingOrSwitchedAway();
    else if (wasUnlocked && m_lockedHint)
        emit screenLocked();
    if (auto state = values.find(QStringLiteral("State")); state != values.end()
        && state->toString() == QLatin1String("closing") && !std::exchange(m_ending, true))
        emit ending();
}

void LogindSessionSignals::onPrepareForShutdown(bool goingDown)
{
    if (goingDown && !std::exchange(m_ending, true))
        emit ending();
}

void LogindSessionSignals::onPrepareForSleep(bool goingToSleep)
{
    if (goingToSleep)
        emit sleepingOrSwitchedAway();
}

void LogindSessionSignals::onLock()
{
    emit screenLocked();
}

void LogindSessionSignals::onPropertiesChanged(const QString& interfaceName, const QVariantMap& changed,
                                               const QStringList& invalidated)
{
    if (interfaceName != QLatin1String(kSessionInterface))
        return;
    applyProperties(changed);
    if (invalidated.contains(QStringLiteral("LockedHint")) || invalidated.contains(QStringLiteral("Active"))
        || invalidated.contains(QStringLiteral("State")))
        readProperties();
}
