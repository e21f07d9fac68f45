#include "Tovrick/shell/AppIcon.h"

#include <QPainter>

#include "shared/art/ButlerArtwork.h"

namespace appIcon {

QImage image(int side)
{
    QImage picture(side, side, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    // The portrait's own pose; a small margin so the hat's brim is not cut at the edge.
    ButlerPose pose;
    pose.mood = Mood::resting;
    pose.gazeY = 0.15;
    const double margin = side * 0.04;
    ButlerArtwork::paint(painter, QRectF(margin, margin, side - 2 * margin, side - 2 * margin), pose);
    return picture;
}

QIcon icon()
{
    QIcon icon;
    for (const int side : {16, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(QPixmap::fromImage(image(side)));
    return icon;
}

} // namespace appIcon
