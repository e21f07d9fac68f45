#include "Tovrick/screen/ScreenReader.h"

#include "Tovrick/screen/ScreenReaderError.h"
#include "Tovrick/screen/TextRecognizer.h"
#include "Tovrick/screen/X11Display.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPainter>
#include <QWindow>
#include <QCoroFuture>
#include <QImageWriter>
#include <QPointer>
#include <QScopeGuard>
#include <QTimer>
#include <QtConcurrent>

#include <malloc.h>

namespace {

struct Captured {
    QImage image;
    std::optional<FrontmostApp> app;
    std::optional<ScreenReaderError> error;
};

struct Recognised {
    QList<TextLine> lines;
    std::optional<ScreenReaderError> error;
};

QByteArray encodeJpeg(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(ScreenReader::kJpegQuality);
    if (!writer.write(image))
        return {};
    return bytes;
}

// A reading passes full-screen images through several threads, whose allocator arenas keep the
// freed pages: they go back to the system once the reading is over, so repeated readings do not
// pile up. Each engine holds tens of megabytes: after a while without readings the engines are
// ended too, so the program returns to its idle size. Focus checks come every 30 s and keep them.
constexpr auto kReleaseEnginesAfter = std::chrono::seconds(75);

void settleMemoryAfterReading()
{
    // Posted, so that it runs once the caller has taken the result and the frame is gone.
    QTimer::singleShot(0, QCoreApplication::instance(), [] { ::malloc_trim(0); });
    static QPointer<QTimer> timer;
    if (!timer) {
        timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(kReleaseEnginesAfter);
        QObject::connect(timer, &QTimer::timeout, [] {
            TextRecognizer::shared().releaseIdleEngines();
            ::malloc_trim(0);
        });
    }
    timer->start();
}

ScreenReader::OwnWindows& ownWindows()
{
    static ScreenReader::OwnWindows provider = &ScreenReader::visibleTopLevelWindows;
    return provider;
}

} // namespace

void ScreenReader::setOwnWindows(OwnWindows provider)
{
    ownWindows() = provider ? std::move(provider) : OwnWindows(&ScreenReader::visibleTopLevelWindows);
}

QList<QRect> ScreenReader::visibleTopLevelWindows()
{
    QList<QRect> rects;
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible())
            continue;
        const double ratio = window->devicePixelRatio();
        const QRect logical = window->geometry();
        rects.append(QRect(QPoint(qRound(logical.x() * ratio), qRound(logical.y() * ratio)),
                           QSize(qRound(logical.width() * ratio), qRound(logical.height() * ratio))));
    }
    return rects;
}

void ScreenReader::coverOwnWindows(QImage& image, const QList<QRect>& windows, QPoint origin)
{
    if (image.isNull())
        return;
    QPainter painter(&image);
    for (const QRect& window : windows) {
        const QRect area = window.translated(-origin).intersected(image.rect());
        if (area.isEmpty())
            continue;
        // The pixel beside the window stands in for what it hides.
        const QPoint beside = area.left() > 0 ? QPoint(area.left() - 1, area.top())
                                              : QPoint(qMin(area.right() + 1, image.width() - 1), area.top());
        painter.fillRect(area, image.pixelColor(beside));
    }
}

ScreenReader::ScreenReader() : m_geometry(&DisplayGeometry::mainDisplay) {}

ScreenReader::ScreenReader(GeometryProvider geometry) : m_geometry(std::move(geometry)) {}

QCoro::Task<ScreenSnapshot> ScreenReader::snapshot()
{
    const auto geometry = m_geometry ? m_geometry() : std::nullopt;
    if (!geometry)
        throw ScreenReaderError::noDisplay();
    const DisplayGeometry where = *geometry;
    const auto settle = qScopeGuard(&settleMemoryAfterReading); // also when the reading fails
    // Every awaited job is a named local: g++ 12 frees temporaries inside a co_await expression
    // twice in optimised builds.
    auto capture = [where] {
        Captured out;
        X11Display display;
        if (!display) {
            out.error = ScreenReaderError::noDisplay();
            return out;
        }
        try {
            out.image = display.capture(where.pixels());
        } catch (const ScreenReaderError& error) {
            out.error = error;
            return out;
        }
        out.app = display.activeWindowApp();
        return out;
    };
    auto capturing = QtConcurrent::run(capture);
    Captured captured = co_await capturing;
    if (captured.error)
        throw *captured.error;
    coverOwnWindows(captured.image, ownWindows()(), where.pixels().topLeft());

    const qint64 pid = captured.app ? captured.app->pid : 0;
    auto readControls = [pid, where] { return ControlsReader::read(pid, where); };
    auto controls = QtConcurrent::run(ControlsReader::pool(), readControls);
    const QImage image = std::move(captured.image);
    auto encode = [image] { return encodeJpeg(image); };
    auto jpeg = QtConcurrent::run(encode);
    // The capture is of the main display alone, so its top-left is the origin of the points.
    const QSizeF size = where.sizeInPoints();
    auto recognise = [image, size] {
        Recognised out;
        try {
            out.lines = recognizeText(image, size);
        } catch (const ScreenReaderError& error) {
            out.error = error;
        }
        return out;
    };
    auto recognising = QtConcurrent::run(recognise);
    Recognised recognised = co_await recognising;

    ScreenSnapshot snapshot;
    snapshot.jpeg = co_await jpeg;
    ControlsReader::Reading read = co_await controls;
    snapshot.controls = std::move(read.controls);
    snapshot.controlsCutShort = read.cutShort;
    if (recognised.error)
        throw *recognised.error;
    if (snapshot.jpeg.isEmpty())
        throw ScreenReaderError(ScreenReaderError::Kind::captureFailed);
    snapshot.lines = std::move(recognised.lines);
    snapshot.size = size;
    if (captured.app && !captured.app->name.isEmpty())
        snapshot.app = captured.app->name;
    co_return snapshot;
}

QList<TextLine> ScreenReader::recognizeText(const QImage& image, QSizeF size)
{
    if (image.isNull() || !(size.width() > 0) || !(size.height() > 0))
        return {};
    const DisplayGeometry geometry(image.rect(), image.width() / size.width());
    QList<TextLine> lines;
    int wordNumber = 0;
    for (const auto& line : TextRecognizer::shared().recognize(image)) {
        TextLine out;
        out.id = QStringLiteral("L%1").arg(lines.size() + 1);
        out.rect = geometry.toPoints(QRectF(line.box));
        QStringList texts;
        for (const auto& word : line.words) {
            out.words.append(Target {QStringLiteral("W%1").arg(++wordNumber), word.text,
                                     geometry.toPoints(QRectF(word.box))});
            texts << word.text;
        }
        out.text = texts.join(QLatin1Char(' '));
        lines.append(std::move(out));
    }
    return lines;
}
