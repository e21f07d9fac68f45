// The focused-field check on a GTK 3 form whose plain text field has the focus: the time from the
// call to its answer, median and worst of 50, and how many answers were "could not check"; and the
// look before a key once the focus left the field and came back; on an idle machine and with a busy
// loop on every core. Run on a display with the accessibility bus
// (scripts/with-test-services, QT_QPA_PLATFORM=xcb) with the tests built (the form comes with them).
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/X11Display.h"
#include "tests/support/BusyCores.h"
#include "tests/support/RunTask.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <benchmark/benchmark.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <memory>
#include <vector>

namespace {

constexpr int kChecks = 50;

// The form, shown, active and on the accessibility bus; null when it never got there.
std::unique_ptr<QProcess> gForm;

bool startForm()
{
    gForm = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
    env.remove(QStringLiteral("NO_AT_BRIDGE"));
    gForm->setProcessEnvironment(env);
    gForm->start(QStringLiteral(GTK_FORM), {});
    Window window = 0;
    for (QByteArray line; gForm->waitForReadyRead(20000) || gForm->canReadLine();) {
        while (gForm->canReadLine()) {
            line = gForm->readLine().trimmed();
            if (line.startsWith("WINDOW "))
                window = static_cast<Window>(line.mid(7).toULongLong());
        }
        if (line == "READY")
            break;
    }
    if (window == 0)
        return false;
    // No window manager here: the active window and the focus are ours to set.
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return false;
    XChangeProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False), XA_WINDOW,
                    32, PropModeReplace, reinterpret_cast<const unsigned char*>(&window), 1);
    XSetInputFocus(display, window, RevertToParent, CurrentTime);
    XSync(display, False);
    XCloseDisplay(display);
    // Until the form's fields are on the bus.
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (runTask(ControlsReader::focusedFieldIsSecure(), std::chrono::seconds(30)).checked)
            return true;
        settleFor(std::chrono::milliseconds(200));
    }
    return false;
}

// Times each of kChecks calls of `ask`, which says whether its answer was the one expected; sets
// the median, the worst and how many answers were not.
template <typename Ask>
void timed(benchmark::State& state, bool busy, const char* missed, Ask ask)
{
    if (!gForm) {
        state.SkipWithError("the form never showed its focused field on the accessibility bus");
        return;
    }
    std::unique_ptr<BusyCores> load;
    if (busy)
        load = std::make_unique<BusyCores>();
    std::vector<double> times;
    int unexpected = 0;
    for (auto _ : state) {
        times.clear();
        unexpected = 0;
        for (int i = 0; i < kChecks; ++i) {
            QElapsedTimer clock;
            clock.start();
            const bool expected = ask();
            times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
            unexpected += expected ? 0 : 1;
        }
    }
    std::sort(times.begin(), times.end());
    state.counters["median_ms"] = times[times.size() / 2];
    state.counters["worst_ms"] = times.back();
    state.counters[missed] = unexpected;
}

void checks(benchmark::State& state, bool busy)
{
    timed(state, busy, "not_checked", [] {
        const ControlsReader::FocusedField field = runTask(ControlsReader::focusedFieldIsSecure(), std::chrono::seconds(30));
        return field.checked && !field.secure && field.editable;
    });
}

// The gate's look before a key once the bus told that the focus left the field and came back: the
// field and the elements that took the focus are asked whether they hold it now.
void looks(benchmark::State& state, bool busy)
{
    if (!gForm) {
        state.SkipWithError("the form never showed its focused field on the accessibility bus");
        return;
    }
    const ControlsReader::FocusedField field = runTask(ControlsReader::focusedFieldIsSecure(), std::chrono::seconds(30));
    gForm->write("FOCUS second\nFOCUS first\n");
    // Until the bus has told of both moves.
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (runTask(ControlsReader::focusStaysOn(field.element), std::chrono::seconds(30)).follow
            == ControlsReader::Follow::moved)
            break;
        settleFor(std::chrono::milliseconds(20));
    }
    timed(state, busy, "not_told_moved", [&field] {
        return runTask(ControlsReader::focusStaysOn(field.element), std::chrono::seconds(30)).follow
            == ControlsReader::Follow::moved;
    });
}

void lookAfterAMoveIdle(benchmark::State& state)
{
    looks(state, false);
}

void lookAfterAMoveEveryCoreBusy(benchmark::State& state)
{
    looks(state, true);
}

void fieldCheckIdle(benchmark::State& state)
{
    checks(state, false);
}

void fieldCheckEveryCoreBusy(benchmark::State& state)
{
    checks(state, true);
}

BENCHMARK(fieldCheckIdle)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(fieldCheckEveryCoreBusy)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(lookAfterAMoveIdle)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(lookAfterAMoveEveryCoreBusy)->Iterations(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    QGuiApplication app(argc, argv);
    if (!startForm())
        gForm.reset();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    if (gForm) {
        gForm->kill();
        gForm->waitForFinished(3000);
    }
    return 0;
}
