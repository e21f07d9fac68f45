#include <gtest/gtest.h>

#include <QBitmap>
#include <QFont>
#include <QPainter>
#include <QRandomGenerator>

#include "Tovrick/screen/OverlayShape.h"

namespace {

// The shape as a painter makes it: the picture drawn shifted in every direction, then the pixels at
// least half opaque. fromAlpha must cut windows exactly so.
QRegion paintedShape(const QImage& drawn, int grow)
{
    QImage alpha = drawn.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (grow > 0) {
        QImage grown(alpha.size(), QImage::Format_ARGB32_Premultiplied);
        grown.fill(Qt::transparent);
        QPainter painter(&grown);
        for (int dx = -grow; dx <= grow; ++dx)
            for (int dy = -grow; dy <= grow; ++dy)
                painter.drawImage(QPoint(dx, dy), alpha);
        painter.end();
        alpha = grown;
    }
    QRegion region(QBitmap::fromImage(alpha.createAlphaMask()));
    const double ratio = drawn.devicePixelRatio();
    if (ratio != 1.0)
        region = QTransform::fromScale(1.0 / ratio, 1.0 / ratio).map(region);
    return region;
}

QImage clock(const QString& label, bool mode)
{
    QImage image(420, 132, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont digits;
    digits.setPixelSize(76);
    painter.setFont(digits);
    painter.drawText(QRect(0, 24, 420, 108), Qt::AlignRight | Qt::AlignVCenter, label);
    if (mode) {
        QFont small;
        small.setPixelSize(12);
        painter.setFont(small);
        painter.drawText(QRect(0, 4, 420, 20), Qt::AlignRight | Qt::AlignVCenter,
                         QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7"));
    }
    return image;
}

// Soft edges, holes, fully opaque and fully clear runs, touching the borders.
QImage speckled(QSize size, quint32 seed)
{
    QRandomGenerator random(seed);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const quint32 roll = random.bounded(10u);
            const int a = roll < 5 ? 0 : roll < 7 ? 255 : static_cast<int>(random.bounded(256u));
            image.setPixel(x, y, qPremultiply(qRgba(200, 120, 40, a)));
        }
    return image;
}

} // namespace

TEST(OverlayShape, GrownShapeIsThatOfThePaintedCopies)
{
    const struct {
        QString label;
        bool mode;
    } clocks[] = {
        {QStringLiteral("02:06"), false}, {QStringLiteral("02:06"), true}, {QStringLiteral("239:59"), true},
        {QStringLiteral("\u2161 00:00"), false}, {QStringLiteral("11:11"), true}, {QStringLiteral("47:58"), false},
    };
    for (const auto& c : clocks) {
        const QImage image = clock(c.label, c.mode);
        EXPECT_EQ(overlayShape::fromAlpha(image, 2), paintedShape(image, 2)) << c.label.toStdString();
        EXPECT_EQ(overlayShape::fromAlpha(image), paintedShape(image, 0)) << c.label.toStdString();
    }
    for (quint32 seed = 1; seed <= 12; ++seed) {
        const QImage image = speckled(QSize(37 + int(seed), 23), seed);
        for (int grow = 0; grow <= 3; ++grow)
            EXPECT_EQ(overlayShape::fromAlpha(image, grow), paintedShape(image, grow)) << seed << " " << grow;
    }

    // The character's pictures on a doubled screen (a painter would draw a doubled picture halved).
    QImage doubled = clock(QStringLiteral("02:06"), true);
    doubled.setDevicePixelRatio(2);
    EXPECT_EQ(overlayShape::fromAlpha(doubled), paintedShape(doubled, 0));

    QImage clear(40, 20, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    EXPECT_TRUE(overlayShape::fromAlpha(clear, 2).isEmpty());
    QImage opaque(40, 20, QImage::Format_RGB32);
    opaque.fill(Qt::gray);
    EXPECT_EQ(overlayShape::fromAlpha(opaque, 2), QRegion(0, 0, 40, 20));
}
