#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

#include <optional>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/screen/StackingWatch.h"
#include "shared/link/FaceState.h"

class PointerMotionWatch;

// The on-screen character: its view over the desktop, stepped by a 60 Hz timer on the media clock
// (not by drawing, so motion goes on while nothing is exposed) while anything moves, reporting its
// face when it changes. At rest no frame runs: pointer motion, a change to the view or engine, or
// a single-shot timer for the next moment something changes with time wakes it; a slow look at the
// pointer catches the moves that send no motion.
class CursorOverlay : public QObject {
    Q_OBJECT

public:
    // The media clock and the real pointer, on the primary screen.
    explicit CursorOverlay(QObject* parent = nullptr);
    // Tests and pictures hand in their own clock and pointer.
    explicit CursorOverlay(CursorEngine::Environment environment, QObject* parent = nullptr);
    ~CursorOverlay() override;

    CursorView& view() { return *m_view; }

    // Shows the character and starts the frames.
    void start();
    void stop();
    bool isRunning() const { return m_running; }
    // Whether the 60 Hz frame timer runs (not at rest).
    bool framesRunning() const { return m_timer.isActive(); }
    // Frames stepped so far.
    quint64 frames() const { return m_frames; }
    // At rest: the media-clock time of the next frame due; none when nothing is due.
    std::optional<double> dueAt() const { return m_due.isActive() ? m_dueAt : std::nullopt; }
    // Whether the pointer is asked every so often (at rest, for moves that send no motion events).
    bool pollsPointer() const { return m_poll.isActive(); }
    // Whether the pointer's motion comes as events from the server.
    bool watchesMotion() const;

    // One frame: the engine's step, the view's update, the face report; at rest, the frame timer
    // stops.
    void step();
    // Starts the frames again (while started); what changes the scene calls it.
    void wake();

    // The face when it changed, and once more when it comes to rest (`atRest`): it stays so until the
    // next call.
    std::function<void(const FaceState&, bool atRest)> onFace;
    // The character fell asleep (false) or woke (true).
    std::function<void(bool awake)> onAwakeChange;

    // Monotonic seconds.
    static double mediaClock();
    // The pointer in main-display points.
    static QPointF pointerPosition();

signals:
    // The frame timer started (true) or stopped at rest (false).
    void framesRunningChanged(bool running);

private:
    void followScreen();
    bool ownsWindow(quint64 id) const;
    void runFrames();
    void rest();
    void pollPointer();

    std::function<QPointF()> m_mouse;
    std::unique_ptr<CursorView> m_view;
    QTimer m_timer;
    QTimer m_due;
    QTimer m_poll;
    std::optional<double> m_dueAt;
    QPointF m_polledAt;
    bool m_running = false;
    bool m_changed = false;
    quint64 m_frames = 0;
    std::optional<FaceState> m_reportedFace;
    bool m_reportedAtRest = false;
    std::unique_ptr<StackingWatch> m_stacking;
    std::unique_ptr<PointerMotionWatch> m_motion;
};
