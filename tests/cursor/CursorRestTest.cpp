#include <gtest/gtest.h>

#include <QSignalSpy>

#include <cmath>
#include <functional>
#include <map>

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/CursorOverlay.h"

namespace {

constexpr double kFrame = cursorChoices::frameMilliseconds / 1000.0;

// Off the blink's whole seconds, so that no frame falls on a boundary to within rounding.
constexpr double kStart = 100.003;

// An overlay on a hand-turned clock and a scripted pointer. Its timers never fire (the test runs no
// event loop): whether a frame runs is read from them.
struct Stage {
    double now = kStart;
    QPointF mouse { 400, 300 };
    CursorOverlay overlay { CursorEngine::Environment { [this] { return now; }, [this] { return mouse; } } };
    CursorView& view = overlay.view();
    CursorEngine& engine = view.engine();
    int faces = 0;
    FaceState reported;
    bool reportedAtRest = false;

    Stage()
    {
        overlay.onFace = [this](const FaceState& face, bool atRest) {
            ++faces;
            reported = face;
            reportedAtRest = atRest;
        };
    }

    // What is on screen and told to the phone; the face to rounding, as the first step after a rest
    // takes a whole frame where the clock gave a hair less.
    struct Shown {
        QPointF tip;
        ButlerPose pose;
        FaceState face;
        bool label;
        size_t rings;
        bool operator==(const Shown& other) const
        {
            const auto near = [](double a, double b) { return std::abs(a - b) < 1e-9; };
            return tip == other.tip && pose == other.pose && near(face.gazeX, other.face.gazeX)
                && near(face.gazeY, other.face.gazeY) && face.mood == other.face.mood && near(face.talk, other.face.talk)
                && label == other.label && rings == other.rings;
        }
    };
    Shown shown() const { return { engine.tip(), engine.pose(), engine.face(), view.labelShown(), view.ringWindows().size() }; }
};

// One scripted run: the pointer's path and what the assistant asks, frame by frame.
void script(Stage& stage, int frame)
{
    CursorView& view = stage.view;
    // Still, then a sweep, still again, a nudge under the settling distance, and a move while asleep.
    if (frame >= 100 && frame < 160)
        stage.mouse += QPointF(8, 5);
    if (frame == 400)
        stage.mouse += QPointF(0.1, 0);
    if (frame >= 1050 && frame < 1060)
        stage.mouse += QPointF(-3, 2);
    static const std::map<int, std::function<void(CursorView&)>> requests {
        { 500, [](CursorView& v) { v.engine().setMode(CursorMode::pinned(QPointF(1200, 200))); } },
        { 640, [](CursorView& v) { v.engine().setGazeOverride(QPointF(0, 0)); } },
        { 700, [](CursorView& v) { v.setCaption(QStringLiteral("Right here")); } },
        { 800, [](CursorView& v) { v.setCaption(std::nullopt); } },
        { 820, [](CursorView& v) { v.showLabel(QStringLiteral("Saved"), 1.0); } },
        { 900, [](CursorView& v) { v.ringBurst(QPointF(1200, 200), false); } },
        { 950, [](CursorView& v) {
              v.engine().setGazeOverride(std::nullopt);
              v.engine().setMode(v.engine().homeMode());
          } },
        { 1000, [](CursorView& v) { v.engine().setAwake(false); } },
        { 1100, [](CursorView& v) { v.engine().setAwake(true); } },
        { 1150, [](CursorView& v) { v.engine().setBrainMood(Mood::thinking); } },
    };
    if (const auto request = requests.find(frame); request != requests.end())
        request->second(view);
}

TEST(CursorRest, PausingAtRestShowsWhatStepsEveryFrameShow)
{
    Stage always;
    Stage pausing;
    pausing.overlay.start();
    always.overlay.step();
    int steps = 0;
    int resting = 0;
    constexpr int kFrames = 1400;
    for (int frame = 1; frame < kFrames; ++frame) {
        always.now = pausing.now = kStart + frame * kFrame;
        script(always, frame);
        const QPointF before = pausing.mouse;
        script(pausing, frame);
        if (pausing.mouse != before)
            pausing.overlay.wake(); // what a motion event does

        always.overlay.step();
        const std::optional<double> due = pausing.overlay.dueAt();
        if (pausing.overlay.framesRunning() || (due && pausing.now >= *due)) {
            pausing.overlay.step();
            ++steps;
        } else {
            ++resting;
        }
        ASSERT_TRUE(pausing.shown() == always.shown()) << "frame " << frame;
        ASSERT_EQ(pausing.reported, pausing.engine.face()) << "the phone has the face shown, frame " << frame;
    }
    EXPECT_LT(steps, kFrames / 2) << "the frames stop at rest";
    EXPECT_GT(resting, kFrames / 2);
    EXPECT_LT(always.faces, kFrames / 4) << "a still face is not reported again";
    EXPECT_TRUE(pausing.reportedAtRest);
}

TEST(CursorRest, AtRestOnlyTheNextBlinkIsDueAndEveryRequestWakes)
{
    Stage stage;
    QSignalSpy running(&stage.overlay, &CursorOverlay::framesRunningChanged);
    stage.overlay.start();
    const auto settle = [&] {
        for (int i = 0; i < 2000 && stage.overlay.framesRunning(); ++i) {
            stage.now += kFrame;
            stage.overlay.step();
        }
        return !stage.overlay.framesRunning();
    };
    ASSERT_TRUE(settle());
    ASSERT_FALSE(running.isEmpty());
    EXPECT_EQ(running.last().value(0).toBool(), false);
    ASSERT_TRUE(stage.overlay.dueAt());
    const double blinkAt = *stage.overlay.dueAt();
    EXPECT_GT(blinkAt, stage.now);
    EXPECT_LE(blinkAt, stage.now + cursorChoices::blinkEvery);

    // The blink: shut at its moment, open again after its length, with no frames between.
    stage.now = blinkAt;
    stage.overlay.step();
    EXPECT_EQ(stage.engine.pose().blink, 1.0);
    EXPECT_FALSE(stage.overlay.framesRunning());
    ASSERT_TRUE(stage.overlay.dueAt());
    EXPECT_NEAR(*stage.overlay.dueAt(), blinkAt + cursorChoices::blinkLength, 1e-9);
    stage.now = *stage.overlay.dueAt();
    stage.overlay.step();
    EXPECT_EQ(stage.engine.pose().blink, 0.0);

    // Asleep, nothing is ever due.
    stage.engine.setAwake(false);
    ASSERT_TRUE(settle());
    EXPECT_FALSE(stage.overlay.dueAt());
    stage.engine.setAwake(true);
    ASSERT_TRUE(settle());

    const std::pair<const char*, std::function<void(CursorView&)>> requests[] = {
        { "mode", [](CursorView& v) { v.engine().setMode(CursorMode::pinned(QPointF(900, 700))); } },
        { "gaze", [](CursorView& v) { v.engine().setGazeOverride(QPointF(5, 5)); } },
        { "mood", [](CursorView& v) { v.engine().setBrainMood(Mood::happy); } },
        { "drag", [](CursorView& v) { v.engine().setDragging(true); } },
        { "press", [](CursorView& v) { v.engine().press(); } },
        { "sleep", [](CursorView& v) { v.engine().setAwake(false); } },
        { "wake", [](CursorView& v) { v.engine().setAwake(true); } },
        { "speech target", [](CursorView& v) { v.setSpeechTarget(QRectF(10, 10, 50, 20)); } },
        { "label", [](CursorView& v) { v.showLabel(QStringLiteral("Done"), 0.5); } },
        { "ring", [](CursorView& v) { v.ringBurst(QPointF(40, 40), true); } },
        { "usable area", [](CursorView& v) { v.engine().setUsableArea(QRectF(0, 0, 1280, 700)); } },
        // Last: the mouth moves for as long as a caption is up.
        { "caption", [](CursorView& v) { v.setCaption(QStringLiteral("Look")); } },
    };
    for (const auto& [name, request] : requests) {
        ASSERT_TRUE(settle()) << name;
        request(stage.view);
        EXPECT_TRUE(stage.overlay.framesRunning()) << name;
        EXPECT_FALSE(stage.overlay.dueAt()) << name;
    }

    // Stopped, nothing runs and nothing wakes it.
    stage.view.setCaption(std::nullopt);
    ASSERT_TRUE(settle());
    stage.overlay.stop();
    stage.engine.setMode(CursorMode::pinned(QPointF(100, 100)));
    EXPECT_FALSE(stage.overlay.framesRunning());
    EXPECT_FALSE(stage.overlay.dueAt());
    EXPECT_FALSE(stage.overlay.pollsPointer());
}

} // namespace
