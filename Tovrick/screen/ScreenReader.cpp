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
#include <QtConcurrent>

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
    // Lambdas and futures are named before they are awaited: g++ 12 frees temporaries inside a
    // co_await expression twice in optimised builds.
    const auto capture = [where] {
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
    auto controls = QtConcurrent::run(ControlsReader::pool(), [pid, where] { return ControlsReader::read(pid, where); });
    const QImage image = captured.image;
    auto jpeg = QtConcurrent::run([image] { return encodeJpeg(image); });
    // The capture is of the main display alone, so its top-left is the origin of the points.
    const QSizeF size = where.sizeInPoints();
    const auto recognise = [image, size] {
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
    snapshot.controls = co_await controls;
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
