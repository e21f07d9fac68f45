// Importing one large photo as a reminder image: time per import and the process's peak resident
// memory. A 6000 × 4000 JPEG decoded whole would take 96 MB of pixels; decoded scaled it stays
// far below that. The source is drawn in grey (24 MB) and freed before anything is measured.
#include "Tovrick/focus/MacVisionLibrary.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <sys/resource.h>

namespace {

long peakResidentKilobytes()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QString writeLargePhoto(const QTemporaryDir& folder)
{
    QImage photo(6000, 4000, QImage::Format_Grayscale8);
    QPainter painter(&photo);
    QLinearGradient shade(0, 0, photo.width(), photo.height());
    shade.setColorAt(0, Qt::white);
    shade.setColorAt(1, Qt::black);
    painter.fillRect(photo.rect(), shade);
    for (int i = 0; i < 400; ++i)
        painter.drawEllipse(QPoint((i * 7919) % 6000, (i * 104729) % 4000), 60 + i % 90, 40 + i % 70);
    painter.end();
    const QString path = folder.filePath(QStringLiteral("large.jpg"));
    photo.save(path, "jpeg", 90);
    return path;
}

void importLargePhoto(benchmark::State& state)
{
    QTemporaryDir source;
    const QString photo = writeLargePhoto(source);
    const long before = peakResidentKilobytes();
    for (auto _ : state) {
        QTemporaryDir target;
        const int failures = MacVisionLibrary::importFiles({ photo }, target.path());
        benchmark::DoNotOptimize(failures);
    }
    state.counters["peak_rss_mb_before"] = static_cast<double>(before) / 1024;
    state.counters["peak_rss_mb_after"] = static_cast<double>(peakResidentKilobytes()) / 1024;
}
BENCHMARK(importLargePhoto)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
