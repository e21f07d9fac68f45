#include "Tovrick/shell/DemoModes.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPixmap>
#include <QPointer>
#include <QScreen>
#include <QTimer>

#include <cstdio>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/assistant/MeetingNotes.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "shared/util/AppPaths.h"
#include "shared/util/CancelToken.h"
#include "shared/util/Log.h"
#include "shared/util/UserFacingError.h"

namespace {

const QString kBubble = QStringLiteral("FENNOW_DEMO_BUBBLE");
const QString kText = QStringLiteral("FENNOW_DEMO_TEXT");
const QString kOut = QStringLiteral("FENNOW_DEMO_OUT");
const QString kTranscribe = QStringLiteral("FENNOW_DEMO_TRANSCRIBE");
const QString kResearch = QStringLiteral("FENNOW_DEMO_RESEARCH");

void printLine(const QString& line)
{
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

} // namespace

QImage demoPictures::grabAround(const QRect& windows, int margin)
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    const QRect area = windows.adjusted(-margin, -margin, margin, margin).intersected(screen->geometry());
    if (area.isEmpty())
        return {};
    const QRect local = area.translated(-screen->geometry().topLeft());
    return screen->grabWindow(0, local.x(), local.y(), local.width(), local.height()).toImage();
}

DemoModes::DemoModes(Ports ports, QProcessEnvironment environment, QObject* parent)
    : QObject(parent), m_ports(std::move(ports)), m_environment(std::move(environment))
{
    // A mode can be done before the event loop runs (a file that cannot be read), and an exit asked
    // for then would be lost: the end always goes through the loop.
    auto exit = std::move(m_ports.exit);
    m_ports.exit = [this, exit](int status) {
        QTimer::singleShot(0, this, [exit, status] {
            if (exit)
                exit(status);
        });
    };
}

bool DemoModes::requested(const QProcessEnvironment& environment)
{
    return environment.contains(kBubble) || environment.contains(kTranscribe) || environment.contains(kResearch);
}

bool DemoModes::writesStatusFile(const QProcessEnvironment& environment)
{
    return !environment.contains(kOut);
}

void DemoModes::start()
{
    const QString out = m_environment.value(kOut);
    if (m_environment.contains(kBubble)) {
        QString text = m_environment.value(kText);
        if (text.isEmpty())
            text = QStringLiteral("Hi! I'm Tovrick.");
        m_ports.character().setCaption(text);
        if (!out.isEmpty())
            captureBubble(out);
    }
    if (m_environment.contains(kTranscribe)) {
        const QString audio = m_environment.value(kTranscribe);
        transcribe(audio);
    }
    // Research capture mode: pictures of the report card for one question, then the end of the run.
    if (m_environment.contains(kResearch)) {
        QString question = m_environment.value(kText);
        if (question.isEmpty())
            question = QStringLiteral("What is the tallest mountain in Europe?");
        QString prefix = out;
        if (prefix.isEmpty())
            prefix = AppPaths::temporary() + QStringLiteral("/tovrick-research");
        m_ports.host().writeReportSnapshots(question, prefix);
    }
}

QCoro::Task<> DemoModes::captureBubble(QString path)
{
    QPointer<DemoModes> self(this);
    const CancelToken never;
    auto settling = cancellableSleep(std::chrono::milliseconds(bubbleSettleMs), never);
    co_await std::move(settling);
    if (!self)
        co_return;
    CursorView& view = m_ports.character();
    QRect shown;
    for (OverlaySprite* window : {view.characterWindow(), view.bubbleWindow()})
        if (window && window->isVisible())
            shown = shown.united(window->geometry());
    const QImage picture = demoPictures::grabAround(shown);
    QImageWriter writer(path);
    if (picture.isNull() || !writer.write(picture)) {
        logline::warning(QStringLiteral("the demo picture could not be written to %1").arg(path));
        m_ports.exit(1);
        co_return;
    }
    logline::info(QStringLiteral("demo picture written to %1").arg(path));
    m_ports.exit(0);
}

QCoro::Task<> DemoModes::transcribe(QString path)
{
    QPointer<DemoModes> self(this);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printLine(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        m_ports.exit(1);
        co_return;
    }
    const QByteArray audio = file.readAll();
    MeetingNotes notes;
    std::vector<MeetingNotes::Segment> segments;
    QString failure;
    try {
        auto transcribing = notes.transcribePlain(audio);
        segments = co_await std::move(transcribing);
    } catch (...) {
        failure = describeError(std::current_exception(), QStringLiteral("The transcription failed."));
    }
    if (!self)
        co_return;
    if (!failure.isEmpty()) {
        printLine(QStringLiteral("transcription failed: %1").arg(failure));
        m_ports.exit(1);
        co_return;
    }
    if (segments.empty())
        printLine(QStringLiteral("(no speech)"));
    for (const MeetingNotes::Segment& segment : segments)
        printLine(QStringLiteral("[%1-%2] %3: %4")
                      .arg(segment.start, 0, 'f', 1)
                      .arg(segment.end, 0, 'f', 1)
                      .arg(segment.speaker, segment.text));
    m_ports.exit(0);
}
