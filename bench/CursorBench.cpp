// One frame of the on-screen character (engine step, view update, face report), all threads' CPU:
// flying back and forth with the speech bubble up, and following a still mouse. The "Painted"
// variants also let Qt paint and flush the windows, as the event loop does between frames. Run it
// on a display (scripts/with-test-services, QT_QPA_PLATFORM=xcb) to include the window system.
#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/screen/OverlayShape.h"

#include <QGuiApplication>
#include <benchmark/benchmark.h>

namespace {

struct Stage {
    double now = 100;
    QPointF mouse { 700, 500 };
    CursorOverlay overlay { CursorEngine::Environment { [this] { return now; }, [this] { return mouse; } } };
    int faces = 0;

    Stage() { overlay.onFace = [this](const FaceState&, bool) { ++faces; }; }
    void frame(bool paint)
    {
        now += 1.0 / 60;
        overlay.step();
        if (paint)
            QCoreApplication::processEvents();
    }
};

void flying(benchmark::State& state, bool paint)
{
    Stage stage;
    CursorView& view = stage.overlay.view();
    view.setCaption(QStringLiteral("That's the report. Shall I send it for you?"));
    bool right = false;
    stage.frame(true);
    for (auto _ : state) {
        if (!view.engine().flight() && view.engine().mode().kind != CursorMode::Kind::following) {
            // Landed: off to the other side.
            right = !right;
            view.engine().setMode(CursorMode::pinned(right ? QPointF(1500, 300) : QPointF(300, 800)));
        } else if (view.engine().mode().kind == CursorMode::Kind::following) {
            view.engine().setMode(CursorMode::pinned(QPointF(1500, 300)));
        }
        stage.frame(paint);
    }
    benchmark::DoNotOptimize(stage.faces);
}

void still(benchmark::State& state, bool paint)
{
    Stage stage;
    for (int i = 0; i < 120; ++i)
        stage.frame(true);
    for (auto _ : state)
        stage.frame(paint);
    benchmark::DoNotOptimize(stage.faces);
}

// The two parts of drawing a new pose: the picture and the shape cut from it.
void BM_CharacterPicture(benchmark::State& state)
{
    ButlerPose pose;
    for (auto _ : state) {
        pose.gazeX = pose.gazeX > 0.9 ? -1 : pose.gazeX + 1.0 / 24;
        benchmark::DoNotOptimize(cursorPictures::character(pose, false, false, 1.0));
    }
}

void BM_CharacterShape(benchmark::State& state)
{
    const QImage picture = cursorPictures::character(ButlerPose {}, false, false, 1.0);
    for (auto _ : state)
        benchmark::DoNotOptimize(overlayShape::fromAlpha(picture));
}

void BM_FrameFlyingWithBubble(benchmark::State& state) { flying(state, false); }
void BM_FrameFlyingWithBubblePainted(benchmark::State& state) { flying(state, true); }
void BM_FrameFollowingStillMouse(benchmark::State& state) { still(state, false); }
void BM_FrameFollowingStillMousePainted(benchmark::State& state) { still(state, true); }

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (auto* benchmark : { benchmark::RegisterBenchmark("CharacterPicture", BM_CharacterPicture),
                             benchmark::RegisterBenchmark("CharacterShape", BM_CharacterShape),
                             benchmark::RegisterBenchmark("FrameFlyingWithBubble", BM_FrameFlyingWithBubble),
                             benchmark::RegisterBenchmark("FrameFlyingWithBubblePainted", BM_FrameFlyingWithBubblePainted),
                             benchmark::RegisterBenchmark("FrameFollowingStillMouse", BM_FrameFollowingStillMouse),
                             benchmark::RegisterBenchmark("FrameFollowingStillMousePainted",
                                                          BM_FrameFollowingStillMousePainted) })
        benchmark->Unit(benchmark::kMicrosecond)->MeasureProcessCPUTime()->Repetitions(5)->ReportAggregatesOnly(true);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
