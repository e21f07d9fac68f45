#pragma once

#include <QPointF>
#include <QRectF>

#include <functional>
#include <optional>

#include "shared/art/ButlerArtwork.h"
#include "shared/link/FaceState.h"
#include "shared/link/Mood.h"

// Where the character is meant to be.
struct CursorMode {
    enum class Kind { pinned, docked, following };
    Kind kind = Kind::following;
    QPointF point; // the pinned point

    static CursorMode pinned(QPointF at) { return { Kind::pinned, at }; }
    static CursorMode docked() { return { Kind::docked, {} }; }
    static CursorMode following() { return { Kind::following, {} }; }
    bool operator==(const CursorMode&) const = default;
};

// One flight along an arc from `from` to `to`.
struct Flight {
    QPointF from;
    QPointF to;
    QPointF bend;     // the arc's control point
    double start = 0; // media-clock seconds
    double duration = 0;

    // The point at media-clock time `now`: `from` before the start, `to` from the end on.
    QPointF at(double now) const;
};

// The character's motion and mood, advanced by `step`. Points are main-display points (top-left
// origin), times seconds of the media clock.
class CursorEngine {
public:
    struct Environment {
        std::function<double()> now;      // monotonic seconds
        std::function<QPointF()> mouse;   // the pointer, in main-display points
    };

    explicit CursorEngine(Environment environment);

    const CursorMode& mode() const { return m_mode; }
    // A pinned point or docked launches a flight there on the next step (also when only the pinned
    // point changed); following glides after the mouse.
    void setMode(const CursorMode& mode);
    // Following while "followMouse" is on, docked otherwise.
    CursorMode homeMode() const { return m_followsMouse ? CursorMode::following() : CursorMode::docked(); }
    // Changes the home mode; a character at home moves to the new one.
    void setFollowsMouse(bool on);

    QPointF tip() const { return m_tip; }
    void setTip(QPointF tip);
    const std::optional<Flight>& flight() const { return m_flight; }

    bool awake() const { return m_awake; }
    void setAwake(bool awake);
    const std::optional<Mood>& brainMood() const { return m_brainMood; }
    void setBrainMood(std::optional<Mood> mood);
    const std::optional<QPointF>& gazeOverride() const { return m_gazeOverride; }
    void setGazeOverride(std::optional<QPointF> point);
    bool dragging() const { return m_dragging; }
    void setDragging(bool on);
    // Whether the mouth moves (a caption is up).
    void setSpeaking(bool on);

    // Starts the press animation now.
    void press();
    double pressStart() const { return m_pressStart; }
    double pressDepth() const { return m_pressDepth; }

    // The main display's usable area; the dock spot lies in its bottom-right corner.
    void setUsableArea(const QRectF& area);
    QPointF dockSpot() const;

    // Advances everything to the clock's time. The first step after a rest moves by one frame at
    // most, as it would have had the steps gone on: motion began within the last frame.
    void step();
    // After a step: nothing moves until an input changes (the pointer, or a setter) or the clock
    // reaches `nextChange`.
    bool atRest() const;
    // The next media-clock time at which the pose changes with time alone (a blink); infinity when
    // none does.
    double nextChange() const;

    // The mood drawn: asleep is sleepy; else the brain's mood, else the character's own.
    Mood mood() const;
    FaceState face() const { return m_face; }
    // What the figure shows now.
    ButlerPose pose() const;
    // The time of the last step.
    double now() const { return m_now; }
    // The clock's time: what starts between steps starts from here, however long ago the last step was.
    double clock() const { return m_env.now(); }

    // Called when `awake` changes.
    std::function<void(bool awake)> onAwakeChange;
    // Called when a setter changed what the next step will do.
    std::function<void()> onChanged;

private:
    void launch(QPointF to);
    double pressCurve(double now) const;
    void changed();

    Environment m_env;
    CursorMode m_mode;
    bool m_followsMouse = true;
    bool m_launchPending = false;
    QPointF m_tip;
    std::optional<Flight> m_flight;
    bool m_awake = true;
    std::optional<Mood> m_brainMood;
    std::optional<QPointF> m_gazeOverride;
    bool m_dragging = false;
    bool m_speaking = false;
    double m_pressStart = -1e9;
    double m_pressDepth = 0;
    QRectF m_usableArea { 0, 0, 1920, 1080 };
    double m_now = 0;
    double m_lastStep = -1;
    bool m_rested = false;
    QPointF m_mouse;
    FaceState m_face;
};
