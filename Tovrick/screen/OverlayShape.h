#pragma once

#include <QImage>
#include <QRegion>

class QWindow;

// Windows drawn over the desktop (the character, the countdown): never focused, click-through, above
// normal windows on every workspace. Without a compositing manager their transparent pixels would be
// black, so their shape is cut to what is drawn; with one, they are really transparent.
namespace overlayShape {

// Whether a compositing manager runs on the display Qt uses. Asked of the server at most every
// couple of seconds. False off X11.
bool compositorRunning();

// The pixels of `drawn` that are at least half opaque, grown by `grow` pixels on every side, in the
// image's device-independent pixels.
QRegion fromAlpha(const QImage& drawn, int grow = 0);

// Sets `shape` as the window's mask when nothing composites, and no mask when something does.
void apply(QWindow& window, const QRegion& shape);

// Marks a created, not yet shown window as an overlay: above, sticky, skip-taskbar and skip-pager,
// on all workspaces (for pagers and compositors; a window that bypasses the window manager keeps
// its place itself); and empties its input shape, so clicks, drags and the wheel reach the windows
// below. Does nothing off X11.
void markOverlay(QWindow& window);

// Puts the window on top of its siblings now. Does nothing off X11.
void raise(QWindow& window);

// The window's _NET_WM_STATE atoms by name, and whether its input shape is empty (for tests).
QStringList netWmStates(const QWindow& window);
bool inputShapeIsEmpty(const QWindow& window);

} // namespace overlayShape
