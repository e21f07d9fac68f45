#include "Tovrick/CursorOverlay/CursorPictures.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "shared/art/Palette.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <vector>
#include <cmath>

using namespace cursorChoices;

namespace {

QImage canvas(QSizeF size, double ratio)
{
    QImage image((size * ratio).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    return image;
}

QFont uiFont(int pixels, QFont::Weight weight)
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

const QFont& bubbleFont()
{
    static const QFont font = uiFont(bubbleFontPixels, QFont::DemiBold);
    return font;
}

const QFont& labelFont()
{
    static const QFont font = uiFont(labelFontPixels, QFont::DemiBold);
    return font;
}

QColor ink(int alpha = 255)
{
    QColor color = Color::tovrickHex(Palette::ink);
    color.setAlpha(alpha);
    return color;
}

constexpr double kTail = 8;
constexpr double kPadX = 14;
constexpr double kPadY = 8;

} // namespace

namespace cursorPictures {

QPointF tipInBox(bool mirrorX, bool mirrorY)
{
    return { mirrorX ? boxSize.width() - cursorChoices::tipInBox.x() : cursorChoices::tipInBox.x(),
             mirrorY ? boxSize.height() - cursorChoices::tipInBox.y() : cursorChoices::tipInBox.y() };
}

QImage character(const ButlerPose& pose, bool mirrorX, bool mirrorY, double ratio)
{
    const double x = mirrorX ? 0 : boxSize.width() - figureSide;
    const double y = mirrorY ? 0 : boxSize.height() - figureSide;
    const QRectF square(x, y, figureSide, figureSide);

    // The body changes only with the press, sleep and the side it points to; the eyes and mouth
    // change all the time. Bodies are kept, so a new look draws only a face.
    struct Body {
        double press;
        bool asleep;
        bool mirrorX;
        bool mirrorY;
        double ratio;
        QImage image;
    };
    static std::vector<Body> bodies;
    auto found = std::find_if(bodies.begin(), bodies.end(), [&](const Body& body) {
        return body.press == pose.press && body.asleep == pose.asleep && body.mirrorX == mirrorX
            && body.mirrorY == mirrorY && body.ratio == ratio;
    });
    if (found == bodies.end()) {
        if (bodies.size() >= 64)
            bodies.clear();
        QImage body = canvas(boxSize, ratio);
        QPainter painter(&body);
        ButlerArtwork::paintBody(painter, square, pose, tipInBox(mirrorX, mirrorY));
        painter.end();
        bodies.push_back(Body { pose.press, pose.asleep, mirrorX, mirrorY, ratio, body });
        found = bodies.end() - 1;
    }

    QImage image = found->image.copy();
    QPainter painter(&image);
    ButlerArtwork::paintFace(painter, square, pose);
    return image;
}

QString bubbleLine(const QString& text)
{
    QString line = text.simplified();
    return QFontMetricsF(bubbleFont()).elidedText(line, Qt::ElideRight, bubbleMaxWidth);
}

QSizeF bubbleBody(const QString& line)
{
    const QFontMetricsF metrics(bubbleFont());
    return { std::ceil(metrics.horizontalAdvance(line)) + 2 * kPadX, std::ceil(metrics.height()) + 2 * kPadY };
}

QSizeF withTail(QSizeF body, Tail tail)
{
    const bool sideways = tail == Tail::left || tail == Tail::right;
    return body + (sideways ? QSizeF(kTail, 0) : QSizeF(0, kTail)) + QSizeF(2, 2);
}

QSizeF bubbleSize(const QString& text, Tail tail)
{
    return withTail(bubbleBody(bubbleLine(text)), tail);
}

QImage bubble(const QString& text, Tail tail, double ratio)
{
    const QString line = bubbleLine(text);
    const QSizeF body = bubbleBody(line);
    const QSizeF size = withTail(body, tail);
    QImage image = canvas(size, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);

    const QRectF rect(QPointF(1 + (tail == Tail::left ? kTail : 0), 1 + (tail == Tail::up ? kTail : 0)), body);
    const double radius = std::min(14.0, body.height() / 2);
    QPainterPath shape;
    shape.addRoundedRect(rect, radius, radius);
    QPainterPath point;
    const double mid = rect.center().y();
    const double along = rect.left() + std::min(26.0, rect.width() / 2);
    switch (tail) {
    case Tail::left:
        point.moveTo(rect.left() + 2, mid - 6); point.lineTo(1, mid + 2); point.lineTo(rect.left() + 2, mid + 4);
        break;
    case Tail::right:
        point.moveTo(rect.right() - 2, mid - 6); point.lineTo(size.width() - 1, mid + 2); point.lineTo(rect.right() - 2, mid + 4);
        break;
    case Tail::up:
        point.moveTo(along - 6, rect.top() + 2); point.lineTo(along, 1); point.lineTo(along + 6, rect.top() + 2);
        break;
    case Tail::down:
        point.moveTo(along - 6, rect.bottom() - 2); point.lineTo(along, size.height() - 1); point.lineTo(along + 6, rect.bottom() - 2);
        break;
    }
    point.closeSubpath();
    shape = shape.united(point);
    painter.setPen(QPen(ink(120), 1.2));
    painter.setBrush(Color::tovrickHex(Palette::paper));
    painter.drawPath(shape);
    painter.setFont(bubbleFont());
    painter.setPen(ink());
    painter.drawText(rect, Qt::AlignCenter, line);
    return image;
}

QImage label(const QString& text, double ratio)
{
    const QFontMetricsF metrics(labelFont());
    const QString line = metrics.elidedText(text.simplified(), Qt::ElideRight, 300);
    const QSizeF size(std::ceil(metrics.horizontalAdvance(line)) + 20, std::ceil(metrics.height()) + 8);
    QImage image = canvas(size, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink(235));
    painter.drawRoundedRect(QRectF(QPointF(0, 0), size), size.height() / 2, size.height() / 2);
    painter.setFont(labelFont());
    painter.setPen(Color::tovrickHex(Palette::paper));
    painter.drawText(QRectF(QPointF(0, 0), size), Qt::AlignCenter, line);
    return image;
}

QImage ring(double progress, bool right, double ratio)
{
    const double side = 2 * (ringRadius + 4);
    QImage image = canvas(QSizeF(side, side), ratio);
    const double t = std::clamp(progress, 0.0, 1.0);
    if (t >= 1)
        return image;
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const double eased = 1 - (1 - t) * (1 - t);
    const double radius = 4 + (ringRadius - 4) * eased;
    QColor colour = Color::tovrickHex(right ? Palette::rightClick : Palette::leftClick);
    colour.setAlphaF(static_cast<float>(1 - t * t));
    painter.setPen(QPen(colour, 1.5 + 3.5 * (1 - t)));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QPointF(side / 2, side / 2), radius, radius);
    return image;
}

QImage photo(const QImage& picture, double ratio)
{
    const QSizeF fitted = QSizeF(picture.size()).scaled(photoSize, Qt::KeepAspectRatio);
    const QSizeF size = fitted + QSizeF(2 * photoFrame, 2 * photoFrame);
    QImage image = canvas(size, ratio);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setPen(QPen(ink(90), 1));
    painter.setBrush(Color::tovrickHex(Palette::paper));
    painter.drawRoundedRect(QRectF(QPointF(0.5, 0.5), size - QSizeF(1, 1)), 12, 12);
    QPainterPath clip;
    const QRectF inner(QPointF(photoFrame, photoFrame), fitted);
    clip.addRoundedRect(inner, 7, 7);
    painter.setClipPath(clip);
    painter.drawImage(inner, picture);
    return image;
}

} // namespace cursorPictures
