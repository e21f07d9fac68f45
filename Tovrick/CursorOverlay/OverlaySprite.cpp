#include "Tovrick/CursorOverlay/OverlaySprite.h"

#include "Tovrick/screen/OverlayShape.h"

#include <QPainter>
#include <QSurfaceFormat>

OverlaySprite::OverlaySprite(const QString& name)
{
    setObjectName(name);
    // A window manager would put a managed window in a frame of its own size, and the frame takes
    // the clicks that the empty input shape lets through: bypassed, the window is the root's child
    // and on every workspace, and the overlay keeps it on top itself.
    setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus
             | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint | Qt::X11BypassWindowManagerHint);
    QSurfaceFormat format = this->format();
    format.setAlphaBufferSize(8);
    setFormat(format);
}

void OverlaySprite::present(const QImage& picture, QPoint topLeft)
{
    m_picture = picture;
    const QSize size = (QSizeF(picture.size()) / picture.devicePixelRatio()).toSize();
    if (!m_marked) {
        setGeometry(QRect(topLeft, size));
        create();
        overlayShape::markOverlay(*this);
        m_marked = true;
    } else if (geometry() != QRect(topLeft, size)) {
        setGeometry(QRect(topLeft, size));
    }
    overlayShape::apply(*this, overlayShape::fromAlpha(picture));
    if (!isVisible())
        show();
    update();
}

void OverlaySprite::moveTo(QPoint topLeft)
{
    if (position() != topLeft)
        setPosition(topLeft);
}

void OverlaySprite::dismiss()
{
    if (isVisible())
        hide();
}

void OverlaySprite::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(0, 0), m_picture);
}
