#include "Tovrick/screen/DisplayGeometry.h"

#include "Tovrick/screen/X11Display.h"

#include <QGuiApplication>
#include <QScreen>

#include <cmath>

DisplayGeometry::DisplayGeometry(QRect pixels, double scale)
    : m_pixels(pixels), m_scale(std::isfinite(scale) && scale > 0 ? scale : 1.0)
{
}

QSizeF DisplayGeometry::sizeInPoints() const
{
    return QSizeF(m_pixels.width() / m_scale, m_pixels.height() / m_scale);
}

QPointF DisplayGeometry::toPoints(QPointF rootPixel) const
{
    return (rootPixel - QPointF(m_pixels.topLeft())) / m_scale;
}

QRectF DisplayGeometry::toPoints(const QRectF& rootPixels) const
{
    return QRectF(toPoints(rootPixels.topLeft()), rootPixels.size() / m_scale);
}

QPointF DisplayGeometry::toPixels(QPointF point) const
{
    return point * m_scale + QPointF(m_pixels.topLeft());
}

QRectF DisplayGeometry::toPixels(const QRectF& points) const
{
    return QRectF(toPixels(points.topLeft()), points.size() * m_scale);
}

std::optional<DisplayGeometry> DisplayGeometry::mainDisplay()
{
    X11Display display;
    if (!display)
        return std::nullopt;
    const QRect root(0, 0, display.rootWidth(), display.rootHeight());

    // Qt's primary screen is the main display when Qt talks to this same server. Qt keeps a screen's
    // top-left in root pixels and divides only its size by the scale.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const double scale = screen->devicePixelRatio();
            const QRect logical = screen->geometry();
            const QRect pixels(logical.topLeft(),
                               QSize(qRound(logical.width() * scale), qRound(logical.height() * scale)));
            const QRect onRoot = pixels.intersected(root);
            if (!onRoot.isEmpty())
                return DisplayGeometry(onRoot, scale);
        }
    }
    return DisplayGeometry(root, 1.0);
}
