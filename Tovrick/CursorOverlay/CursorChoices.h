#pragma once

#include <QPointF>
#include <QSizeF>

// The character's look and motion, chosen once. Lengths are screen points, times seconds.
namespace cursorChoices {

// The character's window: the tip of its teardrop body sits at `tipInBox`, the figure below and
// right of it (mirrored near the right and bottom edges of the screen).
inline constexpr QSizeF boxSize { 72, 74 };
inline constexpr QPointF tipInBox { 3, 3 };
inline constexpr double figureSide = 64;            // the figure's square, at the box's bottom right

// Following: the tip trails the mouse by this offset, closing the gap at `followRate` per second
// (exponentially), and rests once it is within `settleDistance`.
inline constexpr QPointF followOffset { 14, 16 };
inline constexpr double followRate = 14;
inline constexpr double settleDistance = 0.2;

// Flights: a quadratic arc bowed sideways by `arcBow` of the distance (at most `arcBowMax`), eased
// in and out (smoothstep), at `flightSpeed` points per second within [minFlight, maxFlight].
inline constexpr double flightSpeed = 1500;
inline constexpr double minFlight = 0.35;
inline constexpr double maxFlight = 1.1;
inline constexpr double arcBow = 0.22;
inline constexpr double arcBowMax = 150;

// The dock spot: this far in from the bottom-right corner of the main display's usable area.
inline constexpr QPointF dockInset { 120, 130 };

// The press: depth rises to 1 in `pressRise`, falls back to 0 by `pressLength`; a drag holds
// `dragDepth`.
inline constexpr double pressRise = 0.07;
inline constexpr double pressLength = 0.3;
inline constexpr double dragDepth = 0.6;

// Blinks: one every `blinkEvery`, shut for `blinkLength`.
inline constexpr double blinkEvery = 4.5;
inline constexpr double blinkLength = 0.14;

// Gaze: a look target this far away turns the eyes fully.
inline constexpr double gazeReach = 260;

// The speech bubble: one line of `bubbleFontPixels` text, elided beyond `bubbleMaxWidth`.
inline constexpr int bubbleFontPixels = 15;
inline constexpr double bubbleMaxWidth = 460;
inline constexpr double bubbleGap = 8;               // from the figure, or from the speech target

// Labels: a small pill above the figure.
inline constexpr int labelFontPixels = 12;

// Ring bursts: grow to `ringRadius` and fade within `ringLength`.
inline constexpr double ringRadius = 26;
inline constexpr double ringLength = 0.45;

// The goal photo: fitted into this size inside a white frame, faded in over `photoFade`.
inline constexpr QSizeF photoSize { 200, 150 };
inline constexpr double photoFrame = 6;
inline constexpr double photoFade = 0.25;

// The frame step's timer.
inline constexpr int frameMilliseconds = 16;
// At rest the pointer is asked this often, for moves that send no motion events (a warp) or where
// motion cannot be watched: a move is seen within a quarter of a second.
inline constexpr int pointerPollMilliseconds = 200;

} // namespace cursorChoices
