#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>
#include <QSizeF>

#include <optional>

// Where the main display lies on the X root window, and how many root pixels make one point. Every
// rectangle and point the rest of the program sees is in main-display points with a top-left
// origin; this is the one place that converts.
class DisplayGeometry {
public:
    // `pixels`: the main display's rectangle on the root window; `scale`: pixels per point (> 0).
    DisplayGeometry(QRect pixels, double scale);

    QRect pixels() const { return m_pixels; }
    double scale() const { return m_scale; }
    QSizeF sizeInPoints() const;

    QPointF toPoints(QPointF rootPixel) const;
    QRectF toPoints(const QRectF& rootPixels) const;
    QPointF toPixels(QPointF point) const;
    QRectF toPixels(const QRectF& points) const;

    // The main display of the X server named by $DISPLAY: Qt's primary screen when Qt runs on that
    // server, else the whole root window at scale 1. None when no display can be opened. Main thread.
    static std::optional<DisplayGeometry> mainDisplay();

    friend bool operator==(const DisplayGeometry&, const DisplayGeometry&) = default;

private:
    QRect m_pixels;
    double m_scale;
};
