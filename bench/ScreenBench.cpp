// Text recognition of a dense 1920x1080 desktop (light and dark windows) against the tesseract
// command-line program on the same image: median time and word accuracy against the drawn text.
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/TextRecognizer.h"

#include <QElapsedTimer>
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

#include <map>

namespace {

const QStringList kVocabulary = QStringLiteral(
    "the report for Friday meeting notes project budget review design build test release update "
    "customer invoice payment schedule calendar message inbox draft reply forward archive search "
    "settings account profile security network server client request response error warning "
    "function return value string number window screen focus session timer minutes hours today "
    "tomorrow yesterday morning evening summary details history export import folder document "
    "spreadsheet chart table column filter sort total average revenue quarter annual planning team "
    "people manager engineer designer writer research question answer idea issue commit branch merge")
                                        .split(QLatin1Char(' '), Qt::SkipEmptyParts);

struct Window {
    QRect frame;
    bool dark;
    QString family;
    int pixelSize;
};

struct Desktop {
    QImage image;
    QStringList words;
};

Desktop render()
{
    Desktop desktop;
    desktop.image = QImage(1920, 1080, QImage::Format_RGB32);
    desktop.image.fill(QColor(58, 82, 120));
    QPainter painter(&desktop.image);
    QRandomGenerator random(4242);
    const QList<Window> windows {
        {{20, 40, 900, 500}, false, QStringLiteral("DejaVu Sans"), 15},
        {{940, 40, 960, 330}, true, QStringLiteral("DejaVu Sans Mono"), 13},
        {{940, 390, 470, 660}, false, QStringLiteral("DejaVu Serif"), 14},
        {{1430, 390, 470, 660}, true, QStringLiteral("DejaVu Sans"), 13},
        {{20, 560, 440, 490}, true, QStringLiteral("DejaVu Sans"), 14},
        {{480, 560, 440, 490}, false, QStringLiteral("DejaVu Sans Mono"), 12},
    };
    for (const auto& window : windows) {
        const QColor background = window.dark ? QColor(30, 31, 36) : QColor(250, 250, 248);
        const QColor ink = window.dark ? QColor(220, 222, 228) : QColor(30, 30, 30);
        painter.fillRect(window.frame, background);
        painter.setPen(QColor(120, 120, 120));
        painter.drawRect(window.frame.adjusted(0, 0, -1, -1));
        // A title bar of the other shade.
        const QRect title(window.frame.left(), window.frame.top(), window.frame.width(), 28);
        painter.fillRect(title, window.dark ? QColor(60, 62, 70) : QColor(225, 226, 230));
        QFont font(window.family);
        font.setPixelSize(window.pixelSize);
        font.setHintingPreference(QFont::PreferFullHinting);
        QFont titleFont(QStringLiteral("DejaVu Sans"));
        titleFont.setPixelSize(13);
        titleFont.setBold(true);
        painter.setFont(titleFont);
        painter.setPen(window.dark ? QColor(235, 235, 235) : QColor(40, 40, 40));
        const QString caption = kVocabulary[random.bounded(kVocabulary.size())] + QLatin1Char(' ')
            + kVocabulary[random.bounded(kVocabulary.size())];
        painter.drawText(title.adjusted(12, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, caption);
        desktop.words += caption.split(QLatin1Char(' '));

        painter.setFont(font);
        painter.setPen(ink);
        const QFontMetrics metrics(font);
        const int lineHeight = metrics.height() + 4;
        for (int y = title.bottom() + 12 + metrics.ascent(); y + metrics.descent() < window.frame.bottom() - 8;
             y += lineHeight) {
            int x = window.frame.left() + 14;
            const int right = window.frame.right() - 14;
            while (true) {
                const QString word = kVocabulary[random.bounded(kVocabulary.size())];
                const int advance = metrics.horizontalAdvance(word);
                if (x + advance > right)
                    break;
                painter.drawText(x, y, word);
                desktop.words << word;
                x += advance + metrics.horizontalAdvance(QLatin1Char(' '));
            }
        }
    }
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

void recognition(benchmark::State& state)
{
    const Desktop& screen = desktop();
    const QSizeF size(1920, 1080);
    ScreenReader::recognizeText(screen.image, size); // engines start once
    QStringList found;
    for (auto _ : state) {
        const auto lines = ScreenReader::recognizeText(screen.image, size);
        found.clear();
        for (const auto& line : lines)
            for (const auto& word : line.words)
                found << word.text;
    }
    state.counters["words"] = double(screen.words.size());
    state.counters["accuracy"] = accuracy(screen.words, found);
    state.counters["regions"] = double(TextRecognizer::findTextRegions(TextRecognizer::grayscale(screen.image)).size());
}

// The same recognition with a pool of a given size, to show how the work spreads over cores.
void poolSize(benchmark::State& state)
{
    TextRecognizer::Options options;
    options.engines = static_cast<int>(state.range(0));
    options.autoSegmentation = state.range(1) != 0;
    TextRecognizer recognizer(options);
    recognizer.recognize(desktop().image);
    QStringList found;
    for (auto _ : state) {
        found.clear();
        for (const auto& line : recognizer.recognize(desktop().image))
            for (const auto& word : line.words)
                found << word.text;
    }
    state.counters["accuracy"] = accuracy(desktop().words, found);
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

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (qEnvironmentVariableIsSet("SCREEN_BENCH_IMAGE"))
        desktop().image.save(qEnvironmentVariable("SCREEN_BENCH_IMAGE"));
    benchmark::RegisterBenchmark("recognizeText/1920x1080", recognition)
        ->Unit(benchmark::kMillisecond)->Iterations(5)->Repetitions(3)->ReportAggregatesOnly(true)->UseRealTime();
    benchmark::RegisterBenchmark("engines/1920x1080", poolSize)
        ->Args({1, 1})->Args({4, 1})->Args({4, 0})->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();
    benchmark::RegisterBenchmark("tesseract_cli/1920x1080", commandLine)
        ->Unit(benchmark::kMillisecond)->Iterations(3)->Repetitions(1)->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
