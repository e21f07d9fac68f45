#pragma once

#include <QImage>
#include <QString>

#include "shared/art/ButlerArtwork.h"

// The overlay's pictures, each drawn into a transparent image at the given device pixel ratio.
namespace cursorPictures {

// Which side of the bubble its tail is on, pointing at what it speaks for.
enum class Tail { left, right, up, down };

// The character's box: the pointer at the tip, the figure beside it. Mirrored horizontally or
// vertically when the box is turned towards the left or the top of the screen.
QImage character(const ButlerPose& pose, bool mirrorX, bool mirrorY, double ratio);
// The tip's place inside the character's box.
QPointF tipInBox(bool mirrorX, bool mirrorY);

// One line of text in a white rounded bubble (the text made one line and elided to fit).
QImage bubble(const QString& text, Tail tail, double ratio);
QString bubbleLine(const QString& text);
QSizeF bubbleSize(const QString& text, Tail tail);

QImage label(const QString& text, double ratio);

// A ring `progress` (0 .. 1) of the way through its burst.
QImage ring(double progress, bool right, double ratio);

// The photo fitted into the photo size inside its frame.
QImage photo(const QImage& image, double ratio);

} // namespace cursorPictures
