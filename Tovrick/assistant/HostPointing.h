#pragma once

#include <QObject>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QString>
#include <QTimer>
#include <QUuid>
#include <QCoro/QCoroTask>

#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "Tovrick/screen/ScreenSnapshot.h"
#include "shared/focus/FocusNudgePolicy.h"
#include "shared/focus/FocusSession.h"
#include "shared/util/CancelToken.h"

class CursorView;

// The assistant's hold on the on-screen character: captions and how long they stay, focus nudges,
// the awake state, the user's stop, and the point queue that the character flies along, driven by a
// 30 Hz timer that also decides when it goes home. Points are main-display points (top-left origin),
// times seconds of the media clock. Main thread only.
class HostPointing : public QObject {
    Q_OBJECT

public:
    // A pending piece of work on the main thread; cancelling it keeps it from running.
    struct Pending {
        bool cancelled = false;
        void cancel() { cancelled = true; }
    };
    using PendingWork = std::shared_ptr<Pending>;

    // Where the character is sent, and what it points at there (the bubble sits by it).
    struct Spot {
        QPointF point;
        QRectF thing;
    };

    // The world as the host sees it; what is left empty gets the real one.
    struct Ports {
        std::function<double()> now;
        // Runs `work` on the main thread after `seconds`, unless the handle is cancelled first.
        std::function<PendingWork(double seconds, std::function<void()> work)> after;
        // The focus engine's current session, when there is an engine and a session.
        std::function<std::optional<FocusSession>()> focusSession;
        std::function<void()> refreshClips;
        std::function<void()> playClip;
        // The user's mouse pointer; none when it cannot be read.
        std::function<std::optional<QPointF>()> mouse;
        std::function<bool()> accessibilityTrusted;
        std::function<bool()> computerControl;
        // The primary screen's size; none without a screen.
        std::function<std::optional<QSizeF>()> primaryScreen;
        // Waits `seconds` (less when the token is cancelled) while the character's frame step runs.
        std::function<QCoro::Task<>(double seconds, CancelToken token)> sleep;
    };

    static constexpr double kHoldSeconds = 1.0 + 2.2;
    static constexpr double kQuietAfterStop = 1.2;
    static constexpr double kQuietAnyway = 5.0;
    static constexpr double kStopSeconds = 6.0;

    HostPointing(CursorView& view, Ports ports, QObject* parent = nullptr);
    ~HostPointing() override;

    // How long a final caption of `text` stays up.
    static double readingTime(const QString& text);
    // Where the character goes to point at a rectangle: just below its middle.
    static QPointF pointBelow(const QRectF& thing);
    // The scroll offsets of a direction word (already lower-cased) and its arrow.
    struct Scroll {
        int dx;
        int dy;
        QString glyph;
    };
    static Scroll scrollDirection(const QString& direction, int amount);

    // The phone's live text; empty clears the bubble.
    void liveCaption(const QString& trimmed);
    // The final text of what the phone said; stays for its reading time.
    void showCaption(const QString& text);
    void showCaptionFor(const std::optional<QString>& text, double clearAfter);
    void scheduleCaptionClear(double delay);
    // A focus nudge: the sentence, where to point and the extras the plan drew.
    void say(const QString& text, const std::optional<Target>& target, const MotivationNudgePlan& plan);
    // Calls off a nudge's clip that has not started yet (the phone is about to speak).
    void cancelMotivation();
    // The character's part of waking and sleeping.
    void setAwake(bool awake);
    // The user's stop: computer control refused for a while, the queue dropped, the character home.
    void stop();

    // Queues a spot and starts the timer.
    void pointAt(const Spot& spot);
    void startPointTimer();
    void stopPointing();
    void tick();
    void goHome();
    // The clip of a nudge, when that same session still runs off task.
    void motivationFollowUp(std::optional<QUuid> session, CancelToken token);

    // Around every computer-control action: the opening step drops pending pointing and detaches
    // the bubble; the closing step holds the character where it acted before it goes home. The
    // user's stop cancels `acting`, the action's own token, until the closing step.
    void beginAction(CancelToken acting = {});
    void endAction();
    // A character at home stays docked while an action works without flying.
    void dock();
    QCoro::Task<> sleep(double seconds, CancelToken token = {});

    QPointF gridToScreen(double x, double y) const;
    QSizeF screenSize() const;
    // Flies the character to `point` and returns once it has arrived (sooner when cancelled).
    QCoro::Task<> flyTo(QPointF point, CancelToken token);
    // Keeps the reading and describes it for the model: its text and its JPEG in base64.
    std::pair<QString, QString> screenContext(ScreenSnapshot reading, const std::optional<QString>& sentence);
    static QString screenCaptureError(const std::exception_ptr& error, const std::optional<QString>& sentence);

    const std::optional<ScreenSnapshot>& snapshot() const { return m_snapshot; }
    void dropSnapshot() { m_snapshot.reset(); }
    const std::deque<Spot>& queue() const { return m_queue; }
    bool speaking() const { return m_speaking; }
    bool homeRequested() const { return m_homeRequested; }
    bool timerRunning() const { return m_timer.isActive(); }
    double stoppedUntil() const { return m_stoppedUntil; }
    double holdUntil() const { return m_holdUntil; }
    double now() const { return m_ports.now(); }
    CursorView& view() { return m_view; }

private:
    void hideGoalImage();
    void sendHome();
    static void cancel(const PendingWork& work);

    CursorView& m_view;
    Ports m_ports;
    std::optional<ScreenSnapshot> m_snapshot;
    PendingWork m_captionClear;
    PendingWork m_readingDone;
    std::optional<CancelToken> m_motivationTask;
    std::optional<CancelToken> m_acting;
    double m_stoppedUntil = 0;
    std::deque<Spot> m_queue;
    double m_holdUntil = 0;
    bool m_homeRequested = false;
    bool m_speaking = false;
    double m_quietSince = 0;
    QTimer m_timer;
};
