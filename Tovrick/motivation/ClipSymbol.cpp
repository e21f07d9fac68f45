#include "Tovrick/motivation/ClipSymbol.h"

#include <QImageReader>
#include <QPainter>
#include <QQuickWindow>

#include <cmath>

ClipSymbol::ClipSymbol(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &QQuickItem::widthChanged, this, [this] { update(); });
    connect(this, &QQuickItem::heightChanged, this, [this] { update(); });
}

void ClipSymbol::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
    update();
}

void ClipSymbol::paint(QPainter* painter)
{
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const qreal edge = std::min(width(), height());
    const int pixels = static_cast<int>(std::lround(edge * ratio));
    if (m_name.isEmpty() || pixels <= 0)
        return;
    QImageReader reader(QStringLiteral(":/tovrick/motivation/icons/%1.svg").arg(m_name));
    reader.setScaledSize(QSize(pixels, pixels));
    QImage image = reader.read();
    if (image.isNull())
        return;
    image.setDevicePixelRatio(ratio);
    painter->drawImage(QPointF((width() - edge) / 2, (height() - edge) / 2), image);
}
