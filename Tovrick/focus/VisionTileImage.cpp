#include "Tovrick/focus/VisionTileImage.h"

#include <QImageReader>
#include <QPainter>
#include <QPainterPath>
#include <QUrl>

#include <algorithm>
#include <cmath>

VisionTileImage::VisionTileImage(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &VisionTileImage::radiusChanged, this, [this] { update(); });
}

void VisionTileImage::setSource(const QString& source)
{
    if (m_source == source)
        return;
    m_source = source;
    const QUrl url(source);
    QImageReader reader(url.isLocalFile() ? url.toLocalFile() : source);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    const int longSide = std::max(size.width(), size.height());
    if (longSide > kDecodedEdge) {
        const double scale = static_cast<double>(kDecodedEdge) / longSide;
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(std::lround(size.width() * scale))),
                                   std::max(1, static_cast<int>(std::lround(size.height() * scale)))));
    }
    m_image = reader.read();
    emit sourceChanged();
    update();
}

void VisionTileImage::paint(QPainter* painter)
{
    if (m_image.isNull() || width() <= 0 || height() <= 0)
        return;
    // Scaled to fill, the overflow cropped evenly on both sides.
    const double scale = std::max(width() / m_image.width(), height() / m_image.height());
    const QSizeF shown(width() / scale, height() / scale);
    const QRectF cut(QPointF((m_image.width() - shown.width()) / 2, (m_image.height() - shown.height()) / 2), shown);
    QPainterPath shape;
    const QRectF box(0, 0, width(), height());
    shape.moveTo(box.bottomLeft());
    shape.lineTo(box.left(), box.top() + m_radius);
    shape.arcTo(QRectF(box.left(), box.top(), 2 * m_radius, 2 * m_radius), 180, -90);
    shape.lineTo(box.right() - m_radius, box.top());
    shape.arcTo(QRectF(box.right() - 2 * m_radius, box.top(), 2 * m_radius, 2 * m_radius), 90, -90);
    shape.lineTo(box.bottomRight());
    shape.closeSubpath();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setClipPath(shape);
    painter->drawImage(box, m_image, cut);
}
