#include "Tovrick/focus/FocusIcon.h"

#include <QImageReader>
#include <QPainter>
#include <QQuickWindow>

#include <cmath>

FocusIcon::FocusIcon(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    connect(this, &QQuickItem::widthChanged, this, [this] { update(); });
    connect(this, &QQuickItem::heightChanged, this, [this] { update(); });
}

void FocusIcon::setName(const QString& name)
{
    if (m_name == name)
        return;
    m_name = name;
    emit nameChanged();
    update();
}

void FocusIcon::setColor(const QColor& color)
{
    if (m_color == color)
        return;
    m_color = color;
    emit colorChanged();
    update();
}

QImage FocusIcon::render(const QString& name, QSize size, const QColor& color)
{
    if (name.isEmpty() || size.isEmpty())
        return {};
    QImageReader reader(QStringLiteral(":/tovrick/focus/icons/%1.svg").arg(name));
    reader.setScaledSize(size);
    QImage image = reader.read();
    if (image.isNull())
        return {};
    image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&image);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(image.rect(), color);
    return image;
}

void FocusIcon::paint(QPainter* painter)
{
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    const qreal edge = std::min(width(), height());
    const int pixels = static_cast<int>(std::lround(edge * ratio));
    QImage image = render(m_name, QSize(pixels, pixels), m_color);
    if (image.isNull())
        return;
    image.setDevicePixelRatio(ratio);
    const QPointF corner((width() - edge) / 2, (height() - edge) / 2);
    painter->drawImage(corner, image);
}
