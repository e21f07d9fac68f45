#include "Tovrick/focus/FocusCompanion.h"

#include "Tovrick/focus/SessionSignals.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"
#include "shared/util/Uuid.h"

#include <QDir>
#include <QTimer>

#include <cmath>

namespace {

FocusNudgePolicy policyFor(double observationSpan, bool developerMode)
{
    return FocusNudgePolicy(1.5 * observationSpan, developerMode);
}

} // namespace

FocusCompanion::FocusCompanion(FocusEnvironment environment, QObject* parent)
    : QObject(parent),
      m_env(std::move(environment)),
      m_policy(45, false),
      m_generation(uuid::make()),
      m_countdown(std::make_unique<FocusCountdown>(m_env.showsCountdown)),
      m_store(m_env.historyFolder.isEmpty()
                  ? QString()
                  : QDir(m_env.historyFolder).filePath(FocusHistoryStore::fileName(std::nullopt)))
{
    m_lastTick = m_env.now();
    if (m_env.settings)
        m_developerMode = m_env.settings->boolValue(kDeveloperModeKey).value_or(false);
    if (!m_env.historyFolder.isEmpty())
        AppPaths::ensurePrivateFolder(m_env.historyFolder);
    m_history = m_store.load();
}

FocusCompanion::~FocusCompanion()
{
    stopObserving();
}

void FocusCompanion::startObserving()
{
    if (m_timer)
        return;
    m_timer = new QTimer(this);
    m_timer->setInterval(1000);
    connect(m_timer, &QTimer::timeout, this, &FocusCompanion::tick);
    m_timer->start();
    if (SessionSignals* signals_ = m_env.sessionSignals) {
        m_observers.push_back(connect(signals_, &SessionSignals::screenLocked, this,
                                      [this] { pause(QStringLiteral("Computer locked. Resume when you're ready.")); }));
        m_observers.push_back(connect(signals_, &SessionSignals::sleepingOrSwitchedAway, this, [this] {
            pause(QStringLiteral("Computer sleeping or locked. Resume when you're ready."));
        }));
    }
}

void FocusCompanion::stopObserving()
{
    delete m_timer;
    m_timer = nullptr;
    for (const auto& observer : m_observers)
        disconnect(observer);
    m_observers.clear();
}

bool FocusCompanion::running() const
{
    return m_current && m_current->status == FocusSession::Status::running;
}

bool FocusCompanion::isOpen() const
{
    return m_current && m_current->status != FocusSession::Status::ended;
}

bool FocusCompanion::phoneAlive() const
{
    return connected && m_env.now() - lastPing < kPhoneSilence;
}

bool FocusCompanion::sessionIsLive() const
{
    return running() && m_env.hasAccount() && (!m_sessionRequiresPhone || phoneAlive()) && m_env.screenUnlocked()
        && m_env.permission();
}

void FocusCompanion::advanceClock()
{
    const double t = m_env.now();
    const double dt = t - m_lastTick;
    m_lastTick = t;
    if (std::isfinite(dt) && dt >= 0 && m_current)
        m_current->advance(dt);
}

void FocusCompanion::publish()
{
    ++m_revision;
    m_countdown->update(m_current);
    emit currentChanged();
    if (m_historyChanged) {
        m_historyChanged = false;
        emit historyChanged();
    }
    emit published();
    if (onChange)
        onChange(FocusSync(m_current, m_history, m_revision, m_developerMode));
}

void FocusCompanion::save()
{
    m_store.save(m_history, m_current);
}

void FocusCompanion::setHistory(std::vector<FocusSession> history)
{
    m_history = std::move(history);
    m_historyChanged = true;
}

void FocusCompanion::resetPolicy()
{
    m_policy.reset();
}

void FocusCompanion::archiveCurrent()
{
    cancelWork();
    resetPolicy();
    if (m_current) {
        FocusHistoryStore::putFirst(m_history, *m_current);
        m_historyChanged = true;
    }
    publish();
    save();
}

void FocusCompanion::cancelWork()
{
    m_generation = uuid::make();
    m_work = false;
}

void FocusCompanion::tick()
{
    if (!running())
        return;
    if (!m_env.hasAccount()) {
        pause(QStringLiteral("Sign-in expired. Sign in again before resuming."));
        return;
    }
    if (m_sessionRequiresPhone && (!connected || m_env.now() - lastPing >= kPhoneSilence)) {
        pause(QStringLiteral("Phone disconnected. Reconnect, then resume."));
        return;
    }
    if (!m_env.screenUnlocked()) {
        pause(QStringLiteral("Computer locked. Resume when ready."));
        return;
    }
    if (!m_env.permission()) {
        pause(QStringLiteral("Screen access needs a recheck. Resume when access is ready."));
        return;
    }
    advanceClock();
    if (m_current && m_current->status == FocusSession::Status::ended) {
        archiveCurrent();
        return;
    }
    publish();
    if (!m_current)
        return;
    if (m_work && m_env.now() - m_workStartedAt >= kCheckDeadline)
        cancelWork();
    if (m_current->elapsed - m_lastCheck >= m_current->observationDuration() && !m_work
        && m_retryNotBefore <= m_env.now()) {
        m_lastCheck = m_current->elapsed;
        startCheck(*m_current);
    }
}

QString FocusCompanion::start(const QString& task, bool requiresPhone, double minutes)
{
    const QString trimmed = text::trimmedWhitespaceAndNewlines(task);
    if (trimmed.isEmpty())
        return QStringLiteral("Tell me the task first.");
    if (!std::isfinite(minutes))
        return QStringLiteral("Use a duration between 1 and 240 minutes.");
    if (isOpen())
        return QStringLiteral("There's already a focus session. End it before starting another.");
    if (requiresPhone && !phoneAlive())
        return QStringLiteral("Connect the paired phone first.");
    if (!m_env.permission())
        return QStringLiteral("Screen access needs a recheck. Use the screen access controls below.");
    if (!m_env.hasAccount())
        return QStringLiteral("Sign in with Apple to start a focus session.");

    m_sessionRequiresPhone = requiresPhone;
    cancelWork();
    const double clamped = std::clamp(minutes, 1.0, 240.0);
    m_current = FocusSession(trimmed, clamped * 60, m_developerMode);
    m_policy = policyFor(m_current->observationDuration(), m_developerMode);
    m_lastTick = m_env.now();
    m_lastCheck = 0;
    m_consecutiveFailures = 0;
    m_retryNotBefore = 0;
    publish();
    save();
    return QStringLiteral("Focus started: %1, %2 minutes.")
        .arg(trimmed, QString::number(static_cast<long long>(std::trunc(clamped))));
}

QString FocusCompanion::resume()
{
    if (!m_current || m_current->status != FocusSession::Status::paused)
        return QStringLiteral("There's no paused focus session.");
    if (m_sessionRequiresPhone && !phoneAlive())
        return QStringLiteral("Reconnect the paired phone before resuming.");
    if (!m_env.hasAccount())
        return QStringLiteral("Sign in with Apple before resuming.");
    if (!m_env.permission())
        return QStringLiteral("Screen access needs a recheck before resuming.");

    m_current->resume();
    resetPolicy();
    cancelWork();
    m_consecutiveFailures = 0;
    m_retryNotBefore = 0;
    m_lastTick = m_env.now();
    m_lastCheck = m_current->elapsed;
    publish();
    save();
    return QStringLiteral("Focus resumed.");
}

QString FocusCompanion::pause(const QString& reason)
{
    if (!running())
        return QStringLiteral("Focus is already paused or ended.");
    advanceClock();
    if (m_current->status == FocusSession::Status::ended) {
        // Time ran out since the last tick: keep the finished session, as the tick would.
        archiveCurrent();
        return QStringLiteral("Focus paused.");
    }
    m_current->pause(reason);
    cancelWork();
    resetPolicy();
    publish();
    save();
    return QStringLiteral("Focus paused.");
}

QString FocusCompanion::end()
{
    if (!isOpen())
        return QStringLiteral("There's no running focus session.");
    advanceClock();
    m_current->end();
    archiveCurrent();
    return QStringLiteral("Focus finished. Your session is saved in focus history.");
}

QString FocusCompanion::sendTestNudge()
{
    if (!m_developerMode || !m_env.hasAccount())
        return QStringLiteral("Enable Developer Mode and sign in first.");
    if (onNudge)
        onNudge(QStringLiteral("Oi, back to the mission. This is your test nudge."), std::nullopt);
    return QStringLiteral("Test nudge sent to the computer and phone.");
}

QString FocusCompanion::setDeveloperMode(bool on)
{
    if (on == m_developerMode)
        return QStringLiteral("Developer Mode is already %1.").arg(on ? QStringLiteral("on") : QStringLiteral("off"));
    if (running())
        advanceClock();
    cancelWork();
    m_developerMode = on;
    if (m_env.settings)
        m_env.settings->setBool(kDeveloperModeKey, on);
    emit developerModeChanged();
    if (isOpen()) {
        m_current->setDeveloperMode(on);
        m_current->detail = on ? QStringLiteral("Developer Mode: clock 4\u00d7, next check in 10 seconds")
                               : QStringLiteral("Normal speed. Next check in 30 seconds");
    }
    const double span = m_current ? m_current->observationDuration() : (on ? 40.0 : 30.0);
    m_policy = policyFor(span, on);
    m_lastTick = m_env.now();
    m_lastCheck = m_current ? m_current->elapsed : 0;
    if (m_current && m_current->status == FocusSession::Status::ended) {
        archiveCurrent();
    } else {
        publish();
        save();
    }
    return on ? QStringLiteral("Developer Mode on: clock 4\u00d7, checks every 10 seconds.")
              : QStringLiteral("Developer Mode off: normal clock, checks every 30 seconds.");
}

void FocusCompanion::accountChanged(const std::optional<QString>& userId)
{
    pause(QStringLiteral("Account changed"));
    cancelWork();
    m_current.reset();
    m_store.switchTo(userId);
    setHistory(m_store.load());
    resetPolicy();
    publish();
}
