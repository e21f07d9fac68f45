#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "Tovrick/focus/FocusAPI.h"
#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "Tovrick/screen/DesktopSignals.h"
#include "Tovrick/screen/ScreenSnapshot.h"
#include "shared/focus/FocusNudgePolicy.h"
#include "shared/focus/FocusSession.h"
#include "shared/focus/FocusSync.h"

class QTimer;
class SessionSignals;
class Settings;

// Everything the focus engine reaches of the world, fixed when it is made. `production()` wires the
// real clock, screen, account and desktop; tests pass fakes. Every function must be set.
struct FocusEnvironment {
    // Seconds that do not advance while the machine sleeps: ticks, phone silence, verdict age, back-off.
    std::function<double()> now;
    // Screen capture is usable.
    std::function<bool()> permission;
    std::function<bool()> hasAccount;
    // One reading of the screen. Throws (ScreenReaderError::declined when the system refuses).
    std::function<QCoro::Task<ScreenSnapshot>()> capture;
    std::function<QCoro::Task<FocusDecision>(ScreenSnapshot, FocusSession, double idleSeconds)> classify;
    std::function<QCoro::Task<FocusAPI::Nudge>(ScreenSnapshot, QString task)> prepareNudge;
    std::function<bool()> screenUnlocked;
    // Seconds since the user's last input.
    std::function<double()> idleSeconds;
    std::function<std::optional<FrontmostApp>()> frontmostApp;

    // Lock and sleep notices; none leaves them unobserved. Must outlive the engine.
    SessionSignals* sessionSignals = nullptr;
    // Where "focusDeveloperMode" is kept; none keeps it in memory only.
    Settings* settings = nullptr;
    // The folder of the history files (made 0700 if missing).
    QString historyFolder;
    // False keeps the countdown's texts without making its window.
    bool showsCountdown = true;

    static FocusEnvironment production();
};

// The one focus session controller: owns the current session and the history, runs the 1-second
// clock, pauses for lost preconditions, runs the screen checks and nudges, keeps the history file
// and the countdown up to date. Every operation answers one short sentence for the user.
class FocusCompanion : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool developerMode READ developerMode NOTIFY developerModeChanged)
    Q_PROPERTY(std::optional<FocusSession> current READ current NOTIFY currentChanged)
    Q_PROPERTY(std::vector<FocusSession> history READ history NOTIFY historyChanged)
    Q_PROPERTY(qint64 revision READ revision NOTIFY published)

public:
    static inline const QString kDeveloperModeKey = QStringLiteral("focusDeveloperMode");
    static constexpr double kPhoneSilence = 5.0;          // seconds on the `now` clock
    static constexpr double kStaleVerdict = 20.0;
    static constexpr double kNudgeFreshness = 15.0;
    static constexpr double kTargetDrift = 10.0;          // points along each axis
    static constexpr double kBackOffBase = 30.0;
    static constexpr double kBackOffCap = 300.0;
    static constexpr int kFailureCap = 5;
    static constexpr int kErrorTextCut = 140;
    // A check still running after this long is given up, so one stuck capture cannot stop all checks.
    static constexpr double kCheckDeadline = 90.0;

    explicit FocusCompanion(FocusEnvironment environment, QObject* parent = nullptr);
    ~FocusCompanion() override;

    // Installs the 1-second timer and the lock and sleep observers. Once, after onChange and onNudge.
    void startObserving();
    // Stops the timer and the observers (at shutdown).
    void stopObserving();

    Q_INVOKABLE QString start(const QString& task, bool requiresPhone, double minutes);
    Q_INVOKABLE QString resume();
    Q_INVOKABLE QString pause(const QString& reason);
    Q_INVOKABLE QString end();
    Q_INVOKABLE QString sendTestNudge();
    Q_INVOKABLE QString setDeveloperMode(bool on);
    // Switches to the history of the signed-in user, or of the signed-out state.
    void accountChanged(const std::optional<QString>& userId);
    // Drops the running check: its late results are ignored.
    void cancelWork();
    // Tells the countdown and onChange the present state.
    void publish();
    // One step of the 1-second clock; the timer calls it, tests call it directly.
    void tick();

    // Running, signed in, phone alive when required, screen unlocked, capture usable.
    bool sessionIsLive() const;

    const std::optional<FocusSession>& current() const { return m_current; }
    const std::vector<FocusSession>& history() const { return m_history; }
    bool developerMode() const { return m_developerMode; }
    qint64 revision() const { return m_revision; }
    bool sessionRequiresPhone() const { return m_sessionRequiresPhone; }
    QString historyFile() const { return m_store.path(); }
    const FocusCountdown& countdown() const { return *m_countdown; }
    const FocusNudgePolicy& policy() const { return m_policy; }
    double lastCheck() const { return m_lastCheck; }
    double retryNotBefore() const { return m_retryNotBefore; }
    int consecutiveFailures() const { return m_consecutiveFailures; }
    bool checkRunning() const { return m_work; }

    // Set by the shell.
    std::function<void(const FocusSync&)> onChange;
    std::function<void(const QString& message, const std::optional<Target>& target)> onNudge;
    // Phone bookkeeping, written only by the shell: a phone is linked, and when it last sent a focus command.
    bool connected = false;
    double lastPing = -std::numeric_limits<double>::infinity();

signals:
    void developerModeChanged();
    void currentChanged();
    void historyChanged();
    void published();

private:
    bool running() const;
    bool isOpen() const;
    bool phoneAlive() const;
    void advanceClock();
    void save();
    void archiveCurrent();
    void resetPolicy();
    void setHistory(std::vector<FocusSession> history);

    // The check loop.
    void startCheck(const FocusSession& session);
    QCoro::Task<> runCheck(FocusSession session, QUuid generation, double startedAt);
    QCoro::Task<> judge(QPointer<FocusCompanion> self, const FocusSession& session, QUuid generation,
                        double startedAt);
    QCoro::Task<> nudge(QPointer<FocusCompanion> self, const FocusSession& session, QUuid generation,
                        QUuid checkId);
    void deliver(const QString& message, const std::optional<Target>& target, QUuid checkId);
    void checkFailed(const std::exception_ptr& error, const FocusSession& session, QUuid generation);
    bool isCurrent(QUuid generation) const;
    void finishCheck(QUuid generation);

    FocusEnvironment m_env;
    std::optional<FocusSession> m_current;
    std::vector<FocusSession> m_history;
    bool m_sessionRequiresPhone = false;
    bool m_developerMode = false;
    double m_lastTick = 0;
    double m_lastCheck = 0;
    double m_retryNotBefore = 0;
    int m_consecutiveFailures = 0;
    FocusNudgePolicy m_policy;
    QTimer* m_timer = nullptr;
    bool m_work = false;
    double m_workStartedAt = 0;
    QUuid m_generation;
    qint64 m_revision = 0;
    std::unique_ptr<FocusCountdown> m_countdown;
    std::vector<QMetaObject::Connection> m_observers;
    FocusHistoryStore m_store;
    bool m_historyChanged = false;
};
