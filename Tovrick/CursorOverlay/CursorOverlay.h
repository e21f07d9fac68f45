#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/screen/StackingWatch.h"
#include "shared/link/FaceState.h"

// The on-screen character: its view over the desktop, stepped by a 60 Hz timer on the media clock
// (not by drawing, so motion goes on while nothing is exposed), reporting its face every step.
class CursorOverlay : public QObject {
    Q_OBJECT

public:
    // The media clock and the real pointer, on the primary screen.
    explicit CursorOverlay(QObject* parent = nullptr);
    // Tests and pictures hand in their own clock and pointer.
    explicit CursorOverlay(CursorEngine::Environment environment, QObject* parent = nullptr);
    ~CursorOverlay() override;

    CursorView& view() { return *m_view; }

    // Shows the character and starts the frame timer.
    void start();
    void stop();
    bool isRunning() const { return m_timer.isActive(); }

    // One frame: the engine's step, the view's update, the face report.
    void step();

    // The face, every step.
    std::function<void(const FaceState&)> onFace;
    // The character fell asleep (false) or woke (true).
    std::function<void(bool awake)> onAwakeChange;

    // Monotonic seconds.
    static double mediaClock();
    // The pointer in main-display points.
    static QPointF pointerPosition();

private:
    void followScreen();
    bool ownsWindow(quint64 id) const;

    std::unique_ptr<CursorView> m_view;
    QTimer m_timer;
    quint64 m_frames = 0;
    std::unique_ptr<StackingWatch> m_stacking;
};
