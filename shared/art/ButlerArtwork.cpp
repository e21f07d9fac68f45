#include "shared/art/ButlerArtwork.h"

#include "shared/art/Palette.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <utility>

// Everything is drawn in a 100 x 100 box and scaled into the square it is given.
namespace {

QColor hex(quint32 value, int alpha = 255)
{
    QColor color = Color::tovrickHex(value);
    color.setAlpha(alpha);
    return color;
}

QPainterPath bodyPath()
{
    QPainterPath path(QPointF(50, 27));
    path.cubicTo(QPointF(75, 27), QPointF(88, 45), QPointF(88, 66));
    path.cubicTo(QPointF(88, 86), QPointF(73, 94), QPointF(50, 94));
    path.cubicTo(QPointF(27, 94), QPointF(12, 86), QPointF(12, 66));
    path.cubicTo(QPointF(12, 45), QPointF(25, 27), QPointF(50, 27));
    path.closeSubpath();
    return path;
}

QBrush bodyBrush(double top, double bottom)
{
    QLinearGradient gradient(QPointF(50, top), QPointF(50, bottom));
    gradient.setStops(Palette::bodyGradient());
    return gradient;
}

// The tail from the body towards `tip`: the area to fill and its two outer edges.
std::pair<QPainterPath, QPainterPath> tailPaths(QPointF tip)
{
    const QPointF centre(50, 62);
    const double towards = std::atan2(tip.y() - centre.y(), tip.x() - centre.x());
    const double spread = 0.55; // radians either side of the direction
    const auto onBody = [&](double angle, double inset) {
        return centre + QPointF(std::cos(angle) * 38 * inset, std::sin(angle) * 34 * inset);
    };
    const QPointF a = onBody(towards - spread, 0.97);
    const QPointF b = onBody(towards + spread, 0.97);
    const QPointF aInside = onBody(towards - spread, 0.8);
    const QPointF bInside = onBody(towards + spread, 0.8);
    // Each edge bows slightly inwards, for a teardrop's waist.
    const QPointF axis = (a + b) / 2;
    const auto bend = [&](QPointF from) { return from * 0.5 + tip * 0.38 + axis * 0.12; };
    QPainterPath edge(a);
    edge.quadTo(bend(a), tip);
    edge.quadTo(bend(b), b);
    QPainterPath fill = edge;
    fill.lineTo(bInside);
    fill.lineTo(centre);
    fill.lineTo(aInside);
    fill.closeSubpath();
    return { fill, edge };
}

void paintLimbs(QPainter& painter)
{
    QPen limb(hex(Palette::ink), 6.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(limb);
    painter.setBrush(Qt::NoBrush);
    QPainterPath arms;
    arms.moveTo(17, 70);
    arms.quadTo(8, 76, 6, 84);   // resting arm
    arms.moveTo(83, 64);
    arms.quadTo(93, 58, 95, 47); // waving arm
    arms.moveTo(39, 91);
    arms.lineTo(38, 98);
    arms.moveTo(61, 91);
    arms.lineTo(62, 98);
    painter.drawPath(arms);

    painter.setPen(QPen(hex(Palette::ink), 1.6));
    painter.setBrush(hex(Palette::bodyLower));
    painter.drawEllipse(QPointF(6, 85), 4.6, 4.6);
    painter.drawEllipse(QPointF(95, 45), 4.6, 4.6);
    painter.setBrush(hex(Palette::ink));
    painter.drawEllipse(QPointF(36, 98.5), 6, 2.6);
    painter.drawEllipse(QPointF(64, 98.5), 6, 2.6);
}

void paintHat(QPainter& painter)
{
    painter.save();
    painter.translate(50, 29);
    painter.rotate(-9);
    painter.setPen(Qt::NoPen);
    painter.setBrush(hex(Palette::ink));
    painter.drawEllipse(QPointF(0, 0), 24, 5);                     // brim
    painter.drawRoundedRect(QRectF(-14, -26, 28, 26), 3, 3);      // crown
    painter.setBrush(hex(Palette::hatBand));
    painter.drawRect(QRectF(-14, -9, 28, 5.5));                   // band
    painter.setBrush(hex(Palette::paper, 70));
    painter.drawRoundedRect(QRectF(-10.5, -23.5, 4, 12), 2, 2);   // sheen
    painter.restore();
}

void paintClosedEye(QPainter& painter, QPointF centre, bool happy)
{
    QPainterPath lid;
    lid.moveTo(centre + QPointF(-8, happy ? 3 : -1));
    lid.quadTo(centre + QPointF(0, happy ? -8 : 6), centre + QPointF(8, happy ? 3 : -1));
    painter.setPen(QPen(hex(Palette::ink), 3, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(lid);
}

void paintEye(QPainter& painter, QPointF centre, const ButlerPose& pose)
{
    const double open = 1.0 - std::clamp(pose.blink, 0.0, 1.0);
    if (pose.asleep || pose.mood == Mood::sleepy || open < 0.15) {
        paintClosedEye(painter, centre, false);
        return;
    }
    if (pose.mood == Mood::happy) {
        paintClosedEye(painter, centre, true);
        return;
    }
    const double rx = 10.5;
    const double ry = 12.5 * open;
    painter.setPen(QPen(hex(Palette::ink), 1.8));
    painter.setBrush(hex(Palette::paper));
    painter.drawEllipse(centre, rx, ry);

    const double gx = std::clamp(pose.gazeX, -1.0, 1.0);
    const double gy = std::clamp(pose.gazeY, -1.0, 1.0);
    // The pupil's travel keeps it inside the white, so no clip is needed.
    const QPointF pupil = centre + QPointF(gx * 3.6, gy * 4.6 * open);
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(hex(Palette::ink));
    painter.drawEllipse(pupil, 6.2, 6.2 * std::max(open, 0.4));
    painter.setBrush(hex(Palette::paper));
    painter.drawEllipse(pupil + QPointF(-2.2, -2.4), 2.1, 2.1);
    painter.drawEllipse(pupil + QPointF(2.4, 2.2), 0.9, 0.9);
    painter.restore();
}

void paintMouth(QPainter& painter, const ButlerPose& pose)
{
    const QPointF at(50, 75);
    const double talk = std::clamp(pose.talk, 0.0, 1.0);
    painter.setBrush(Qt::NoBrush);
    QPen line(hex(Palette::mouth), 2.6, Qt::SolidLine, Qt::RoundCap);

    if (!pose.asleep && (talk > 0.04 || pose.mood == Mood::talking)) {
        const double height = 2.5 + 9.0 * talk;
        painter.setPen(QPen(hex(Palette::mouth), 1.4));
        painter.setBrush(hex(Palette::mouth));
        painter.drawEllipse(at + QPointF(0, height / 2 - 1), 5.5 + 2.5 * talk, height / 2);
        return;
    }
    if (!pose.asleep && pose.mood == Mood::happy) {
        QPainterPath smile;
        smile.moveTo(at + QPointF(-9, -2));
        smile.cubicTo(at + QPointF(-8, 10), at + QPointF(8, 10), at + QPointF(9, -2));
        smile.closeSubpath();
        painter.setPen(QPen(hex(Palette::mouth), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(hex(Palette::mouth));
        painter.drawPath(smile);
        painter.setPen(Qt::NoPen);
        painter.setBrush(hex(Palette::tongue));
        painter.drawEllipse(at + QPointF(0, 4.8), 4.2, 2.2);
        return;
    }
    if (pose.asleep || pose.mood == Mood::sleepy) {
        painter.setPen(QPen(hex(Palette::mouth), 1.6));
        painter.setBrush(hex(Palette::mouth));
        painter.drawEllipse(at + QPointF(0, 1), 2.6, 2.2);
        return;
    }
    painter.setPen(line);
    QPainterPath mouth;
    if (pose.mood == Mood::thinking) {
        mouth.moveTo(at + QPointF(-5, 1.5));
        mouth.quadTo(at + QPointF(1, -0.5), at + QPointF(6, -1.5));
    } else if (pose.mood == Mood::pointing) {
        mouth.moveTo(at + QPointF(-7, -1));
        mouth.quadTo(at + QPointF(-1, 6), at + QPointF(7, -2.5));
    } else {
        mouth.moveTo(at + QPointF(-6, -1));
        mouth.quadTo(at + QPointF(0, 5), at + QPointF(6, -1));
    }
    painter.drawPath(mouth);
}

void paintSnore(QPainter& painter)
{
    painter.setPen(QPen(hex(Palette::ink), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    const auto zed = [&](QPointF at, double size) {
        const QPointF points[] = { at, at + QPointF(size, 0), at + QPointF(0, size), at + QPointF(size, size) };
        painter.drawPolyline(points, 4);
    };
    zed(QPointF(80, 14), 7);
    zed(QPointF(90, 4), 5);
}

} // namespace

namespace {

// The transform shared by both layers: the square, the room for limbs and the press's squash.
void placeFigure(QPainter& painter, const QRectF& square, const ButlerPose& pose)
{
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(square.topLeft());
    painter.scale(square.width() / 100.0, square.height() / 100.0);
    if (pose.limbs) {
        // Arms and feet need room: the whole figure shrinks a little.
        painter.translate(50, 52);
        painter.scale(0.9, 0.9);
        painter.translate(-50, -52);
    }
}

void squash(QPainter& painter, const ButlerPose& pose)
{
    const double press = std::clamp(pose.press, 0.0, 1.0);
    painter.translate(50, 94);
    painter.scale(1.0 + 0.10 * press, 1.0 - 0.14 * press);
    painter.translate(-50, -94);
}

} // namespace

namespace ButlerArtwork {

void paint(QPainter& painter, const QRectF& square, const ButlerPose& pose, std::optional<QPointF> tailTip)
{
    paintBody(painter, square, pose, tailTip);
    paintFace(painter, square, pose);
}

void paintBody(QPainter& painter, const QRectF& square, const ButlerPose& pose, std::optional<QPointF> tailTip)
{
    // The tail's point in the 100 x 100 box, before the box is scaled.
    std::optional<QPointF> tail;
    if (tailTip)
        tail = QPointF((tailTip->x() - square.left()) * 100.0 / square.width(),
                       (tailTip->y() - square.top()) * 100.0 / square.height());
    painter.save();
    placeFigure(painter, square, pose);
    if (pose.limbs) {
        if (tail)
            tail = QPointF((tail->x() - 50) / 0.9 + 50, (tail->y() - 52) / 0.9 + 52);
        paintLimbs(painter);
    }
    squash(painter, pose);
    if (tail) {
        // The squash must not move the tail's point.
        const double press = std::clamp(pose.press, 0.0, 1.0);
        tail = QPointF(50 + (tail->x() - 50) / (1.0 + 0.10 * press), 94 + (tail->y() - 94) / (1.0 - 0.14 * press));
    }

    const QPen outline(hex(Palette::ink, 150), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    const QBrush body = bodyBrush(27, 94);
    if (tail) {
        // Filled under the body, filled again over the body's outline where they join, then edged.
        const auto [fill, edge] = tailPaths(*tail);
        painter.setPen(Qt::NoPen);
        painter.setBrush(body);
        painter.drawPath(fill);
        painter.setPen(outline);
        painter.drawPath(bodyPath());
        painter.setPen(Qt::NoPen);
        painter.drawPath(fill);
        painter.setPen(outline);
        painter.setBrush(Qt::NoBrush);
        painter.drawPath(edge);
    } else {
        painter.setPen(outline);
        painter.setBrush(body);
        painter.drawPath(bodyPath());
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(hex(Palette::paper, 85));
    painter.save();
    painter.translate(30, 41);
    painter.rotate(-32);
    painter.drawEllipse(QPointF(0, 0), 8, 4.2);
    painter.restore();
    painter.setBrush(hex(Palette::cheek, 130));
    painter.drawEllipse(QPointF(25, 70), 6, 3.4);
    painter.drawEllipse(QPointF(75, 70), 6, 3.4);
    paintHat(painter);
    if (pose.asleep)
        paintSnore(painter);
    painter.restore();
}

void paintFace(QPainter& painter, const QRectF& square, const ButlerPose& pose)
{
    painter.save();
    placeFigure(painter, square, pose);
    squash(painter, pose);
    paintEye(painter, QPointF(38, 55), pose);
    paintEye(painter, QPointF(62, 55), pose);
    paintMouth(painter, pose);
    painter.restore();
}

} // namespace ButlerArtwork
