#include <gtest/gtest.h>

#include <QLineF>

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/CursorEngine.h"

namespace {

// An engine on a hand-turned clock and a still pointer.
struct Rig {
    double now = 100;
    QPointF mouse { 400, 300 };
    CursorEngine engine { CursorEngine::Environment { [this] { return now; }, [this] { return mouse; } } };

    void stepTo(double time)
    {
        now = time;
        engine.step();
    }
};

double distance(QPointF a, QPointF b)
{
    return QLineF(a, b).length();
}

TEST(CursorEngine, APinnedPointLaunchesOnTheNextStepAndEndsExactlyThere)
{
    Rig rig;
    rig.engine.setUsableArea(QRectF(0, 0, 1920, 1080));
    rig.stepTo(100);
    const QPointF start = rig.engine.tip();
    const QPointF target(1500.5, 820.25);

    rig.engine.setMode(CursorMode::pinned(target));
    EXPECT_FALSE(rig.engine.flight()) << "nothing moves before the next step";
    rig.stepTo(100.5);
    ASSERT_TRUE(rig.engine.flight());
    const Flight flight = *rig.engine.flight();
    EXPECT_DOUBLE_EQ(flight.start, 100.5);
    EXPECT_EQ(flight.from, start);
    EXPECT_GE(flight.duration, cursorChoices::minFlight);
    EXPECT_LE(flight.duration, cursorChoices::maxFlight);
    EXPECT_EQ(rig.engine.tip(), start);
    EXPECT_EQ(rig.engine.mood(), Mood::pointing);

    // Along the way the tip closes in on the point, off the straight line (an arc).
    double left = distance(start, target);
    bool offLine = false;
    for (int i = 1; i < 10; ++i) {
        rig.stepTo(flight.start + flight.duration * i / 10.0);
        const double now = distance(rig.engine.tip(), target);
        EXPECT_LT(now, left) << "step " << i;
        left = now;
        const QLineF chord(start, target);
        const QLineF toTip(start, rig.engine.tip());
        offLine = offLine || std::abs(chord.angleTo(toTip)) > 1;
    }
    EXPECT_TRUE(offLine);
    rig.stepTo(flight.start + flight.duration);
    EXPECT_EQ(rig.engine.tip(), target);
    EXPECT_FALSE(rig.engine.flight());

    // Held there whatever the mouse does; the same point again launches nothing.
    rig.mouse = QPointF(10, 10);
    rig.engine.setMode(CursorMode::pinned(target));
    rig.stepTo(110);
    EXPECT_FALSE(rig.engine.flight());
    EXPECT_EQ(rig.engine.tip(), target);

    // A new point while flying starts from wherever the tip is.
    rig.engine.setMode(CursorMode::pinned(QPointF(100, 100)));
    rig.stepTo(111);
    const double midTime = 111 + rig.engine.flight()->duration / 2;
    rig.stepTo(midTime);
    const QPointF midway = rig.engine.tip();
    rig.engine.setMode(CursorMode::pinned(QPointF(900, 100)));
    rig.stepTo(midTime + 0.016);
    ASSERT_TRUE(rig.engine.flight());
    EXPECT_EQ(rig.engine.flight()->from, midway);
    EXPECT_DOUBLE_EQ(rig.engine.flight()->start, midTime + 0.016);
    EXPECT_EQ(rig.engine.flight()->to, QPointF(900, 100));
}

TEST(CursorEngine, HomeModesFollowTheMouseOrRestAtTheDock)
{
    Rig rig;
    rig.engine.setUsableArea(QRectF(0, 28, 1920, 1052));
    EXPECT_EQ(rig.engine.mode(), CursorMode::following());
    EXPECT_EQ(rig.engine.dockSpot(), QPointF(1920, 1080) - cursorChoices::dockInset);

    // Following glides after the mouse and settles exactly at its offset.
    rig.mouse = QPointF(900, 600);
    rig.stepTo(100);
    double gap = distance(rig.engine.tip(), rig.mouse + cursorChoices::followOffset);
    for (double t = 100.016; t < 101.5; t += 0.016) {
        rig.stepTo(t);
        const double now = distance(rig.engine.tip(), rig.mouse + cursorChoices::followOffset);
        EXPECT_LE(now, gap);
        gap = now;
    }
    EXPECT_EQ(rig.engine.tip(), rig.mouse + cursorChoices::followOffset);
    EXPECT_FALSE(rig.engine.flight());

    // Turning "followMouse" off sends a character at home to the dock, by flight.
    rig.engine.setFollowsMouse(false);
    EXPECT_EQ(rig.engine.mode(), CursorMode::docked());
    rig.stepTo(102);
    ASSERT_TRUE(rig.engine.flight());
    rig.stepTo(102 + rig.engine.flight()->duration);
    EXPECT_EQ(rig.engine.tip(), rig.engine.dockSpot());
    rig.mouse = QPointF(5, 5);
    rig.stepTo(104);
    EXPECT_EQ(rig.engine.tip(), rig.engine.dockSpot());

    // A pinned character is not at home: the setting leaves it where it is.
    rig.engine.setMode(CursorMode::pinned(QPointF(50, 50)));
    rig.engine.setFollowsMouse(true);
    EXPECT_EQ(rig.engine.mode(), CursorMode::pinned(QPointF(50, 50)));
    rig.engine.setMode(rig.engine.homeMode());
    rig.stepTo(105);
    EXPECT_FALSE(rig.engine.flight()) << "following glides rather than flies";
}

TEST(CursorEngine, PressDepthOverTimeAndTheDragHold)
{
    Rig rig;
    rig.stepTo(50);
    rig.engine.press();
    EXPECT_DOUBLE_EQ(rig.engine.pressStart(), 50);
    const struct {
        double after;
        double depth;
    } rows[] = { { 0, 0 }, { 0.035, 0.5 }, { 0.07, 1 }, { 0.185, 0.5 }, { 0.3, 0 }, { 2, 0 } };
    for (const auto& row : rows) {
        rig.stepTo(50 + row.after);
        EXPECT_NEAR(rig.engine.pressDepth(), row.depth, 1e-9) << row.after << " s after the press";
    }
    rig.engine.setDragging(true);
    rig.stepTo(53);
    EXPECT_DOUBLE_EQ(rig.engine.pressDepth(), cursorChoices::dragDepth);
    rig.engine.press();
    rig.stepTo(53.07);
    EXPECT_DOUBLE_EQ(rig.engine.pressDepth(), 1) << "a press during a drag goes deeper";
    rig.engine.setDragging(false);
    rig.stepTo(54);
    EXPECT_DOUBLE_EQ(rig.engine.pressDepth(), 0);
}

TEST(CursorEngine, SleepWakeMoodAndGaze)
{
    Rig rig;
    std::vector<bool> reported;
    rig.engine.onAwakeChange = [&](bool awake) { reported.push_back(awake); };
    rig.engine.setBrainMood(Mood::thinking);
    rig.stepTo(10);
    EXPECT_EQ(rig.engine.face().mood, Mood::thinking);

    rig.engine.setAwake(false);
    rig.engine.setAwake(false);
    rig.stepTo(11);
    EXPECT_EQ(rig.engine.face().mood, Mood::sleepy) << "asleep outranks the brain";
    EXPECT_TRUE(rig.engine.pose().asleep);
    rig.engine.setAwake(true);
    rig.stepTo(12);
    EXPECT_EQ(rig.engine.face().mood, Mood::thinking);
    EXPECT_EQ(reported, (std::vector<bool> { false, true }));
    rig.engine.setBrainMood(std::nullopt);
    rig.stepTo(13);
    EXPECT_EQ(rig.engine.face().mood, Mood::resting);

    // The eyes follow the mouse unless told to look elsewhere; the mouth moves while speaking.
    rig.mouse = rig.engine.tip() + QPointF(2000, 0);
    rig.stepTo(13.016);
    EXPECT_GT(rig.engine.face().gazeX, 0.9);
    rig.engine.setGazeOverride(rig.engine.tip() + QPointF(-2000, 3000));
    rig.stepTo(13.032);
    EXPECT_EQ(rig.engine.face().gazeX, -1);
    EXPECT_EQ(rig.engine.face().gazeY, 1);
    EXPECT_EQ(rig.engine.face().talk, 0);
    rig.engine.setSpeaking(true);
    rig.stepTo(13.1);
    EXPECT_EQ(rig.engine.face().mood, Mood::talking);
    EXPECT_GT(rig.engine.face().talk, 0);
}

TEST(CursorEngine, AStillSceneGivesAnEqualPose)
{
    Rig rig;
    rig.stepTo(20.5);
    for (double t = 20.5; t < 21.5; t += 0.016)
        rig.stepTo(t);
    const ButlerPose settled = rig.engine.pose();
    rig.stepTo(21.6);
    EXPECT_EQ(rig.engine.pose(), settled);
    rig.stepTo(cursorChoices::blinkEvery * 10 + 0.05);
    EXPECT_EQ(rig.engine.pose().blink, 1) << "a blink now and then";
}

} // namespace
