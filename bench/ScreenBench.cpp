// Text recognition and full screen readings of a dense 1920x1080 desktop (light and dark windows),
// against the tesseract command-line program on the same image: median time, the whole process's
// CPU, word accuracy against the drawn text and resident memory. Run under an X display
// (QT_QPA_PLATFORM=xcb) for the full snapshots.
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/TextRecognizer.h"
#include "shared/util/ThreadLimit.h"

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>
#include <QFile>
#include <QRasterWindow>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "bench/DenseDesktop.h"

#include <chrono>
#include <functional>
#include <map>
#include <optional>

#include <malloc.h>
#include <ctime>
#include <unistd.h>

namespace {

struct Desktop {
    QImage image;
    QStringList words;
};

// `firstWindowSeed` changes the words of the first window alone: another moment of the same desktop.
Desktop render(quint32 firstWindowSeed = 1)
{
    Desktop desktop;
    desktop.image = QImage(1920, 1080, QImage::Format_RGB32);
    QPainter painter(&desktop.image);
    desktop.words = denseDesktop::paint(painter, {firstWindowSeed, 4243, 4244, 4245, 4246, 4247});
    return desktop;
}

// The share of drawn words found, each found word matched once.
double accuracy(const QStringList& truth, const QStringList& found)
{
    std::map<QString, int> available;
    for (const auto& word : found)
        ++available[word];
    int hits = 0;
    for (const auto& word : truth) {
        auto it = available.find(word);
        if (it != available.end() && it->second > 0) {
            --it->second;
            ++hits;
        }
    }
    return truth.isEmpty() ? 0 : double(hits) / truth.size();
}

const Desktop& desktop()
{
    static const Desktop made = render();
    return made;
}

// The same desktop one pixel lower: every block is new to the recogniser.
const Desktop& shiftedDesktop()
{
    static const Desktop made = [] {
        Desktop shifted = desktop();
        shifted.image = QImage(desktop().image.size(), desktop().image.format());
        shifted.image.fill(QColor(58, 82, 120));
        QPainter(&shifted.image).drawImage(QPoint(0, 1), desktop().image);
        return shifted;
    }();
    return made;
}

// The desktop with other words in its first window, as after a while of work in one app.
const Desktop& laterDesktop()
{
    static const Desktop made = render(77);
    return made;
}

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.value(1).toDouble() * double(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

double processCpuSeconds()
{
    timespec now {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

QStringList wordsOf(const QList<TextLine>& lines)
{
    QStringList found;
    for (const auto& line : lines)
        for (const auto& word : line.words)
            found << word.text;
    return found;
}

// A reading of a screen the recogniser has not seen: each iteration alternates two desktops whose
// blocks all differ.
void recognitionCold(benchmark::State& state)
{
    const QSizeF size(1920, 1080);
    ScreenReader::recognizeText(shiftedDesktop().image, size); // engines start once
    QStringList found;
    bool shifted = false;
    for (auto _ : state) {
        shifted = !shifted;
        found = wordsOf(ScreenReader::recognizeText((shifted ? desktop() : shiftedDesktop()).image, size));
    }
    const Desktop& last = shifted ? desktop() : shiftedDesktop();
    state.counters["words"] = double(last.words.size());
    state.counters["accuracy"] = accuracy(last.words, found);
    state.counters["regions"] = double(TextRecognizer::findTextRegions(TextRecognizer::grayscale(last.image)).size());
    state.counters["rss_mb"] = residentMegabytes();
}

// A focus check's usual reading: one window changed since the previous check. The CPU share of one
// core that a session spends on its readings at one check every 30 s is `session_core_pct`.
void recognitionOneWindowChanged(benchmark::State& state)
{
    const QSizeF size(1920, 1080);
    ScreenReader::recognizeText(laterDesktop().image, size);
    QStringList found;
    bool later = false;
    for (auto _ : state) {
        later = !later;
        found = wordsOf(ScreenReader::recognizeText((later ? desktop() : laterDesktop()).image, size));
    }
    const Desktop& last = later ? desktop() : laterDesktop();
    state.counters["accuracy"] = accuracy(last.words, found);
}

// The same recognition with a pool of a given size, to show how the work spreads over cores.
void poolSize(benchmark::State& state)
{
    TextRecognizer::Options options;
    options.engines = static_cast<int>(state.range(0));
    options.autoSegmentation = state.range(1) != 0;
    TextRecognizer recognizer(options);
    recognizer.recognize(shiftedDesktop().image);
    QStringList found;
    bool shifted = false;
    for (auto _ : state) {
        shifted = !shifted;
        found.clear();
        for (const auto& line : recognizer.recognize((shifted ? desktop() : shiftedDesktop()).image))
            for (const auto& word : line.words)
                found << word.text;
    }
    state.counters["accuracy"] = accuracy((shifted ? desktop() : shiftedDesktop()).words, found);
}

void commandLine(benchmark::State& state)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("screen.png"));
    desktop().image.save(path);
    QStringList found;
    for (auto _ : state) {
        QProcess process;
        process.start(QStringLiteral("tesseract"), {path, QStringLiteral("stdout")});
        process.waitForFinished(120000);
        found = QString::fromUtf8(process.readAllStandardOutput()).split(QRegularExpression(QStringLiteral("\\s+")),
                                                                         Qt::SkipEmptyParts);
    }
    state.counters["words"] = double(desktop().words.size());
    state.counters["accuracy"] = accuracy(desktop().words, found);
}

// The desktop shown full screen on the X display, read as the program reads it.
struct ShownDesktop : QRasterWindow {
    const QImage* image = &desktop().image;
    QEventLoop* waiting = nullptr;
    int paints = 0;
    void paintEvent(QPaintEvent*) override
    {
        QPainter(this).drawImage(QPoint(0, 0), *image);
        ++paints;
        if (waiting)
            waiting->quit();
    }
};

// Waits as the program waits: in an event loop that sleeps until `loop` is quit (by whatever it
// waits for) or the time runs out. Polling would spin this thread and count as the readings' CPU.
bool waitIn(QEventLoop& loop, std::chrono::milliseconds limit, const std::function<bool()>& done)
{
    if (done())
        return true;
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

void rest(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    waitIn(loop, duration, [] { return false; });
}

ScreenSnapshot takeSnapshot(ScreenReader& reader)
{
    std::optional<ScreenSnapshot> taken;
    bool over = false;
    QEventLoop loop;
    auto reading = [](ScreenReader* from, std::optional<ScreenSnapshot>* out, bool* ended, QEventLoop* waiting)
        -> QCoro::Task<> {
        try {
            auto snapshot = from->snapshot();
            out->emplace(co_await snapshot);
        } catch (const std::exception&) {
        }
        *ended = true;
        waiting->quit();
    };
    auto task = reading(&reader, &taken, &over, &loop);
    waitIn(loop, std::chrono::minutes(2), [&] { return over; });
    return taken ? *taken : ScreenSnapshot {};
}

// One full snapshot (capture, recognition, controls, JPEG and the model's text) of a screen that
// changed completely (`/cold`), in one window (`/one_window_changed`) or not at all (`/unchanged`);
// CPU is the whole process's.
void snapshotOnDisplay(benchmark::State& state)
{
    const int change = static_cast<int>(state.range(0)); // 1 all, 0 one window, 2 nothing
    ShownDesktop window;
    window.setFlags(Qt::FramelessWindowHint);
    window.setGeometry(0, 0, 1920, 1080);
    const auto paintAndSettle = [&](const std::function<void()>& alter) {
        QEventLoop loop;
        const int before = window.paints;
        window.waiting = &loop;
        alter();
        waitIn(loop, std::chrono::seconds(10), [&] { return window.paints > before; });
        window.waiting = nullptr;
        // Time for the server to draw what the window sent, before it is captured.
        rest(std::chrono::milliseconds(150));
    };
    paintAndSettle([&] { window.show(); });
    ScreenReader::setOwnWindows([] { return QList<QRect> {}; });
    ScreenReader reader;
    const Desktop* shown[2] = {&desktop(), change == 1 ? &shiftedDesktop() : change == 0 ? &laterDesktop() : &desktop()};
    int next = 1;
    const auto show = [&](const Desktop* which) {
        paintAndSettle([&] {
            window.image = &which->image;
            window.update();
        });
    };
    show(shown[next]);
    takeSnapshot(reader); // engines start once
    double promptChars = 0;
    double cpuSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        next = 1 - next;
        show(shown[next]);
        state.ResumeTiming();
        const double before = processCpuSeconds();
        const ScreenSnapshot snapshot = takeSnapshot(reader);
        promptChars = double(snapshot.promptText().size());
        cpuSeconds += processCpuSeconds() - before;
    }
    state.counters["prompt_chars"] = promptChars;
    // A focus check reads the screen once every 30 s: the share of one core that costs.
    state.counters["core_pct_at_30s"] = cpuSeconds / double(state.iterations()) / 30.0 * 100.0;
    state.counters["rss_mb"] = residentMegabytes();
    ScreenReader::setOwnWindows(nullptr);
}

// Resident memory of the process after its readings and after the idle release of the engines.
void memoryAfterRelease(benchmark::State& state)
{
    for (auto _ : state) {
        ScreenReader::recognizeText(desktop().image, QSizeF(1920, 1080));
        state.counters["rss_mb_reading"] = residentMegabytes();
        ::malloc_trim(0);
        state.counters["rss_mb_trimmed"] = residentMegabytes();
        TextRecognizer::shared().releaseIdleEngines();
        ::malloc_trim(0);
        state.counters["rss_mb_released"] = residentMegabytes();
    }
}

} // namespace

int main(int argc, char** argv)
{
    limitOpenMpThreads(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("SCREEN_BENCH_IMAGE"))
        desktop().image.save(qEnvironmentVariable("SCREEN_BENCH_IMAGE"));
    benchmark::AddCustomContext("rss_mb_at_start", QByteArray::number(residentMegabytes(), 'f', 1).toStdString());
    // CPU figures are the whole process's: the work runs on a pool of threads.
    benchmark::RegisterBenchmark("recognizeText/cold", recognitionCold)
        ->Unit(benchmark::kMillisecond)->Iterations(6)->Repetitions(3)->ReportAggregatesOnly(true)
        ->UseRealTime()->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("recognizeText/one_window_changed", recognitionOneWindowChanged)
        ->Unit(benchmark::kMillisecond)->Iterations(6)->Repetitions(3)->ReportAggregatesOnly(true)
        ->UseRealTime()->MeasureProcessCPUTime();
    benchmark::RegisterBenchmark("engines/cold", poolSize)
        ->Args({1, 1})->Args({4, 1})->Args({4, 0})->Unit(benchmark::kMillisecond)->Iterations(4)
        ->UseRealTime()->MeasureProcessCPUTime();
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        benchmark::RegisterBenchmark("snapshot/cold", snapshotOnDisplay)
            ->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime()->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark("snapshot/one_window_changed", snapshotOnDisplay)
            ->Arg(0)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime()->MeasureProcessCPUTime();
        benchmark::RegisterBenchmark("snapshot/unchanged", snapshotOnDisplay)
            ->Arg(2)->Unit(benchmark::kMillisecond)->Iterations(6)->UseRealTime()->MeasureProcessCPUTime();
    }
    benchmark::RegisterBenchmark("memory/after_release", memoryAfterRelease)->Iterations(1);
    benchmark::RegisterBenchmark("tesseract_cli/1920x1080", commandLine)
        ->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(1)->UseRealTime()->MeasureProcessCPUTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
