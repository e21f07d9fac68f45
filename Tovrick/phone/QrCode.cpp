#include "Tovrick/phone/QrCode.h"

#include <QPainter>
#include <QQmlEngine>
#include <QQuickWindow>

#include <qrencode.h>

#include <algorithm>
#include <cmath>

static_assert(QrCode::correctionLevel == QR_ECLEVEL_M);

std::optional<QrCode> QrCode::encode(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QRcode* made = QRcode_encodeString8bit(bytes.constData(), 0, static_cast<QRecLevel>(correctionLevel));
    if (!made)
        return std::nullopt;
    QrCode code;
    code.m_size = made->width;
    code.m_modules.resize(static_cast<size_t>(made->width) * static_cast<size_t>(made->width));
    for (size_t i = 0; i < code.m_modules.size(); ++i)
        code.m_modules[i] = (made->data[i] & 1) != 0;
    QRcode_free(made);
    return code;
}

int QrCode::moduleFor(int side) const
{
    return std::max(1, side / (m_size + 2 * quietZone));
}

QRect QrCode::paint(QPainter& painter, const QRect& area) const
{
    const int module = moduleFor(std::min(area.width(), area.height()));
    const int side = module * (m_size + 2 * quietZone);
    const QRect square(area.x() + (area.width() - side) / 2, area.y() + (area.height() - side) / 2, side, side);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.fillRect(square, Qt::white);
    const int origin = quietZone * module;
    for (int y = 0; y < m_size; ++y) {
        // One rectangle per run of dark modules: fewer calls, and no seams between neighbours.
        for (int x = 0; x < m_size;) {
            if (!dark(x, y)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < m_size && dark(end, y))
                ++end;
            painter.fillRect(square.x() + origin + x * module, square.y() + origin + y * module, (end - x) * module,
                             module, Qt::black);
            x = end;
        }
    }
    painter.restore();
    return square;
}

QrCodeItem::QrCodeItem(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(false);
    setSmooth(false);
    setMipmap(false);
}

void QrCodeItem::setText(const QString& text)
{
    if (m_text == text)
        return;
    m_text = text;
    m_code = text.isEmpty() ? std::nullopt : QrCode::encode(text);
    emit textChanged();
    update();
}

void QrCodeItem::paint(QPainter* painter)
{
    if (!m_code)
        return;
    // Whole device pixels per module: the drawing is scaled by the ratio, so work in device pixels.
    const qreal ratio = window() ? window()->effectiveDevicePixelRatio() : 1.0;
    painter->save();
    painter->scale(1 / ratio, 1 / ratio);
    const QRect area(0, 0, static_cast<int>(std::floor(width() * ratio)), static_cast<int>(std::floor(height() * ratio)));
    m_code->paint(*painter, area);
    painter->restore();
}

void QrCodeItem::registerQmlType()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    qmlRegisterType<QrCodeItem>("Tovrick.Phone", 1, 0, "QrCode");
}
