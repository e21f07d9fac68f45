#include "Tovrick/FocusSelfTest.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QCoroFuture>
#include <QFontDatabase>
#include <QImageWriter>
#include <QPainter>
#include <QRegularExpression>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <memory>
#include <optional>

#include "Tovrick/assistant/WebResearch.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/focus/FocusAPI.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReader.h"
#include "shared/util/UserFacingError.h"

namespace FocusSelfTest {

namespace {

using Print = std::function<void(const QString&)>;

void printToStandardOutput(const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

std::optional<QByteArray> encodeJpeg(const QImage& image)
{
    if (image.isNull())
        return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    if (!writer.write(image) || bytes.isEmpty())
        return std::nullopt;
    return bytes;
}

struct Recognised {
    QList<TextLine> lines;
    std::optional<QString> failure;
};

QString decisionLine(const FocusDecision& decision)
{
    return focusActivityText(decision.activity) + QStringLiteral(", P(off)=") + numberText(decision.probability)
        + QStringLiteral(", confidence=") + numberText(decision.confidence);
}

// Whether the fixture's verdict is the one it must get; rows without an expectation always pass.
bool verdictExpected(const QString& name, const FocusDecision& decision)
{
    if (name == QLatin1String("twitter_unrelated"))
        return decision.activity == FocusActivity::offTask && !(decision.probability < 0.5);
    if (name == QLatin1String("twitter_research"))
        return decision.activity == FocusActivity::onTask;
    return true;
}

QCoro::Task<int> runSynthetic(Print print)
{
    for (const Fixture& fixture : fixtures()) {
        const QImage image = drawScreen(fixture.screenText);
        const std::optional<QByteArray> jpeg = encodeJpeg(image);
        if (!jpeg)
            co_return 1;
        ScreenSnapshot snapshot;
        snapshot.jpeg = *jpeg;
        snapshot.size = QSizeF(kScreenWidth, kScreenHeight);
        // The feed fixtures are read like a browser window, so the judge gets their text as well.
        if (fixture.name.startsWith(QLatin1String("twitter"))) {
            auto recognise = [image]() -> Recognised {
                try {
                    return { ScreenReader::recognizeText(image, QSizeF(kScreenWidth, kScreenHeight)), std::nullopt };
                } catch (const std::exception& error) {
                    return { {}, describeError(error) };
                }
            };
            auto recognising = QtConcurrent::run(recognise);
            const Recognised recognised = co_await recognising;
            if (recognised.failure) {
                print(QStringLiteral("LIVE API unavailable: ") + *recognised.failure);
                co_return 1;
            }
            snapshot.lines = recognised.lines;
            snapshot.app = QStringLiteral("Safari");
        }
        const FocusSession session(fixture.task, kSessionDuration, false);

        std::optional<FocusDecision> decision;
        QString failure;
        try {
            auto judging = FocusAPI::classify(snapshot, session, kFixtureIdleSeconds);
            decision = co_await judging;
        } catch (const std::exception& error) {
            failure = describeError(error);
        }
        if (!decision) {
            print(QStringLiteral("LIVE API unavailable: ") + failure);
            co_return 1;
        }
        print(QStringLiteral("LIVE synthetic fixture ") + fixture.name + QStringLiteral(": ") + decisionLine(*decision));
        if (!verdictExpected(fixture.name, *decision))
            co_return 1;

        if (fixture.name == QLatin1String("unrelated_entertainment")) {
            std::optional<FocusAPI::Nudge> nudge;
            try {
                auto preparing = FocusAPI::prepareNudge(snapshot, fixture.task);
                nudge = co_await preparing;
            } catch (const std::exception& error) {
                failure = describeError(error);
            }
            if (!nudge) {
                print(QStringLiteral("LIVE API unavailable: ") + failure);
                co_return 1;
            }
            print(QStringLiteral("LIVE Responses nudge: ") + nudge->message + QStringLiteral("; target=")
                  + (nudge->target ? QStringLiteral("validated") : QStringLiteral("none")));
        }
    }

    auto writing = CodexController::newsLine(kCodexNote);
    const std::optional<QString> news = co_await writing;
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    if (!news || news->split(whitespace, Qt::SkipEmptyParts).size() >= 16) {
        print(QStringLiteral("LIVE Codex status line: missing or too long"));
        co_return 1;
    }
    print(QStringLiteral("LIVE Codex status line: ") + *news);

    std::optional<ResearchReport> report;
    QString failure;
    try {
        const std::optional<QString> noScreen;
        auto researching = WebResearch::research(kResearchQuestion, noScreen);
        report = co_await researching;
    } catch (const std::exception& error) {
        failure = describeError(error);
    }
    if (!report) {
        print(QStringLiteral("LIVE web research failed: ") + failure);
        co_return 1;
    }
    if (report->paragraphs.isEmpty() || report->sources.empty()) {
        print(QStringLiteral("LIVE web research: missing report or sources"));
        co_return 1;
    }
    QStringList body { report->title };
    body << report->paragraphs;
    print(QStringLiteral("LIVE web research: ") + body.join(QStringLiteral("\n\n")));
    QStringList addresses;
    for (const ResearchReport::Source& source : report->sources)
        addresses << source.url.toString();
    print(QStringLiteral("LIVE web research sources: ") + addresses.join(QStringLiteral(", ")));
    co_return 0;
}

QCoro::Task<int> runDesktop(Print print, SnapshotSource& screen, ScreenCaptureAccess& access)
{
    auto checking = access.check();
    const bool granted = co_await checking;
    if (!granted) {
        print(QStringLiteral("LIVE desktop capture: ") + access.message());
        co_return 1;
    }

    std::optional<ScreenSnapshot> snapshot;
    QString failure;
    try {
        auto capturing = screen.snapshot();
        snapshot = co_await capturing;
    } catch (const std::exception& error) {
        failure = describeError(error);
    }
    if (!snapshot) {
        print(QStringLiteral("LIVE desktop check failed: ") + failure);
        co_return 1;
    }

    const FocusSession session(kDesktopTask, kSessionDuration, false);
    std::optional<FocusDecision> decision;
    try {
        auto judging = FocusAPI::classify(*snapshot, session, 0);
        decision = co_await judging;
    } catch (const std::exception& error) {
        failure = describeError(error);
    }
    if (!decision) {
        print(QStringLiteral("LIVE desktop check failed: ") + failure);
        co_return 1;
    }
    print(QStringLiteral("LIVE desktop capture + Decisions: ") + decisionLine(*decision)
          + QStringLiteral(". No screenshot saved."));
    co_return 0;
}

QCoro::Task<> runToExit(bool desktop, int* status)
{
    auto running = runFocusAPILiveTest(desktop);
    *status = co_await running;
    QCoreApplication::exit(*status);
}

} // namespace

const QList<Fixture>& fixtures()
{
    static const QList<Fixture> table {
        { QStringLiteral("supporting_tutorial"),
          QStringLiteral("CODEX TUTORIAL\nHow to build an app with Codex\nResearch for my next video"),
          QStringLiteral("Make a video teaching Codex") },
        { QStringLiteral("unrelated_entertainment"),
          QStringLiteral("CAT COMPILATION\nFunny cats on trampolines\nUp next: more cat videos"),
          QStringLiteral("Prepare the monthly business expense report") },
        { QStringLiteral("twitter_unrelated"),
          QStringLiteral("X / HOME / FOR YOU\nFunny football moments\nCelebrity drama and memes\n"
                         "Trending: weekend plans\nScroll for more entertainment"),
          QStringLiteral("Work on the Tovrick app inside the Codex app") },
        { QStringLiteral("twitter_research"),
          QStringLiteral("X / SEARCH: SwiftUI Bonjour\nFix NWConnection pairing in SwiftUI\n"
                         "Technical guide to Bonjour discovery\nCheck service names and TXT records"),
          QStringLiteral("Fix Bonjour pairing in the Tovrick SwiftUI app") },
    };
    return table;
}

QString numberText(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value < 0 ? QStringLiteral("-inf") : QStringLiteral("inf");
    const QString sign = std::signbit(value) ? QStringLiteral("-") : QString();
    if (value == 0)
        return sign + QStringLiteral("0.0");

    // The shortest round-trip digits, then laid out as plain decimals unless very small or large.
    char buffer[40];
    const auto written = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    const std::string scientific(buffer, written.ptr);
    const std::size_t mark = scientific.find('e');
    std::string digits = scientific.substr(0, mark);
    digits.erase(std::remove(digits.begin(), digits.end(), '.'), digits.end());
    const int exponent = std::stoi(scientific.substr(mark + 1));

    std::string text;
    if (exponent < -4 || exponent >= 16) {
        text = digits.substr(0, 1);
        if (digits.size() > 1)
            text += '.' + digits.substr(1);
        const std::string power = std::to_string(std::abs(exponent));
        text += std::string("e") + (exponent < 0 ? '-' : '+') + (power.size() < 2 ? "0" : "") + power;
    } else if (exponent < 0) {
        text = "0." + std::string(static_cast<std::size_t>(-exponent - 1), '0') + digits;
    } else {
        const auto whole = static_cast<std::size_t>(exponent) + 1;
        if (digits.size() <= whole)
            text = digits + std::string(whole - digits.size(), '0') + ".0";
        else
            text = digits.substr(0, whole) + '.' + digits.substr(whole);
    }
    return sign + QString::fromStdString(text);
}

QImage drawScreen(const QString& screenText)
{
    QImage image(kScreenWidth, kScreenHeight, QImage::Format_RGB32);
    image.fill(QColor::fromRgbF(0.1f, 0.1f, 0.1f));
    QPainter painter(&image);
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(36);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(50, 100, 860, 400), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, screenText);
    painter.end();
    return image;
}

} // namespace FocusSelfTest

QCoro::Task<int> runFocusAPILiveTest(bool desktop)
{
    const FocusSelfTest::Options defaults;
    auto running = runFocusAPILiveTest(desktop, defaults);
    co_return co_await running;
}

QCoro::Task<int> runFocusAPILiveTest(bool desktop, FocusSelfTest::Options options)
{
    const FocusSelfTest::Print print = options.print ? options.print : FocusSelfTest::Print(&FocusSelfTest::printToStandardOutput);
    if (!desktop) {
        auto synthetic = FocusSelfTest::runSynthetic(print);
        co_return co_await synthetic;
    }
    std::unique_ptr<ScreenReader> reader;
    SnapshotSource* screen = options.screen;
    if (!screen) {
        reader = std::make_unique<ScreenReader>();
        screen = reader.get();
    }
    ScreenCaptureAccess& access = options.access ? *options.access : ScreenCaptureAccess::shared();
    auto checking = FocusSelfTest::runDesktop(print, *screen, access);
    co_return co_await checking;
}

int runFocusSelfTest(bool desktop)
{
    int status = 1;
    QTimer::singleShot(0, [desktop, &status] { FocusSelfTest::runToExit(desktop, &status); });
    QCoreApplication::exec();
    return status;
}
