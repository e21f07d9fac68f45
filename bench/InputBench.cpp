// How soon a synthetic click or key press reaches a window of another process: from posting it
// through XTest to the window's report of the event on its output, median of runs. Run on a display
// (scripts/with-test-services, QT_QPA_PLATFORM=xcb) with the input test window built.
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"

#include <QGuiApplication>
#include <QProcess>
#include <QRectF>
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

struct ProbeWindow {
    QProcess process;
    QRectF pad;
    bool ready = false;

    ProbeWindow()
    {
        process.start(QStringLiteral(INPUT_TEST_WINDOW), {});
        quint64 id = 0;
        QByteArray line;
        while ((line = next()) != "READY") {
            if (line.isEmpty())
                return;
            const QList<QByteArray> parts = line.split(' ');
            if (parts[0] == "WINDOW")
                id = parts.value(1).toULongLong();
            if (parts[0] == "CONTROL" && parts[1] == "pad")
                pad = QRectF(parts[2].toDouble(), parts[3].toDouble(), parts[4].toDouble(), parts[5].toDouble());
        }
        // No window manager here: give it the keyboard ourselves.
        Display* display = XOpenDisplay(nullptr);
        XSetInputFocus(display, static_cast<::Window>(id), RevertToParent, CurrentTime);
        XSync(display, False);
        XCloseDisplay(display);
        ready = true;
    }
    ~ProbeWindow()
    {
        process.kill();
        process.waitForFinished(3000);
    }
    // The next line the window prints; empty when none comes within a second.
    QByteArray next()
    {
        while (!process.canReadLine())
            if (!process.waitForReadyRead(1000))
                return {};
        return process.readLine().trimmed();
    }
    bool until(const char* prefix)
    {
        for (QByteArray line = next(); !line.isEmpty(); line = next())
            if (line.startsWith(prefix))
                return true;
        return false;
    }
};

void clickReachesTheWindow(benchmark::State& state)
{
    ProbeWindow window;
    XTestInput input;
    if (!window.ready || !input.available()) {
        state.SkipWithError("no display, no XTest or no input window");
        return;
    }
    input.move(window.pad.center());
    for (auto _ : state) {
        input.button(SyntheticInput::Button::left, true);
        input.button(SyntheticInput::Button::left, false);
        if (!window.until("RELEASE")) {
            state.SkipWithError("the click never arrived");
            return;
        }
    }
}

void keyReachesTheWindow(benchmark::State& state, unsigned long keysym)
{
    ProbeWindow window;
    XTestInput input;
    if (!window.ready || !input.available()) {
        state.SkipWithError("no display, no XTest or no input window");
        return;
    }
    for (auto _ : state) {
        input.key(keysym, 0);
        if (!window.until("TEXT")) {
            state.SkipWithError("the key never arrived");
            return;
        }
        input.key(XK_BackSpace, 0);
        state.PauseTiming();
        window.until("TEXT");
        state.ResumeTiming();
    }
}

} // namespace

BENCHMARK(clickReachesTheWindow)->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(5)
    ->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(keyReachesTheWindow, onTheLayout, XK_a)
    ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_CAPTURE(keyReachesTheWindow, offTheLayout, KeyCombination::keysymForCharacter(U'Ω'))
    ->UseRealTime()->Unit(benchmark::kMillisecond)->Iterations(200)->Repetitions(5)->ReportAggregatesOnly(true);

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
