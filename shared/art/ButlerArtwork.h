#pragma once

#include <QPointF>
#include <QRectF>

#include <optional>

#include "shared/link/Mood.h"

class QPainter;

// What one picture of the character shows.
struct ButlerPose {
    double gazeX = 0;   // -1 (left) .. 1 (right)
    double gazeY = 0;   // -1 (up) .. 1 (down)
    Mood mood = Mood::resting;
    double talk = 0;    // mouth opening, 0 .. 1
    double blink = 0;   // 0 open .. 1 shut
    double press = 0;   // squash of the press animation, 0 .. 1
    bool asleep = false;
    bool limbs = false;

    bool operator==(const ButlerPose&) const = default;
};

// The character: a gumdrop blob in the body gradient with big eyes, a mouth and a top hat, drawn
// into any square. Used by the overlay and by the portrait.
namespace ButlerArtwork {

// `tailTip`, when given (in the painter's coordinates, outside the square), draws the body as a
// teardrop whose point is there: the overlay character points with it like a cursor.
void paint(QPainter& painter, const QRectF& square, const ButlerPose& pose,
           std::optional<QPointF> tailTip = std::nullopt);

// The same in two layers, for a picture that keeps the first: everything but the eyes and the
// mouth (which depends only on the press, the limbs, sleep and the tail), then the eyes and mouth.
void paintBody(QPainter& painter, const QRectF& square, const ButlerPose& pose,
               std::optional<QPointF> tailTip = std::nullopt);
void paintFace(QPainter& painter, const QRectF& square, const ButlerPose& pose);

} // namespace ButlerArtwork
