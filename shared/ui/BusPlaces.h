#pragma once

#include <QMetaObject>
#include <QRect>

class QAccessibleInterface;
class QQuickItem;
class QWindow;

// Places on the accessibility bus, which Qt 6.4's bridge takes from the interfaces as they are.
namespace accessibleItems {
// `logical`, a rectangle in the device-independent screen coordinates Qt works in, as the screen's
// own pixels: what the bus must give, as Qt's bridge passes a node's rectangle on unchanged, so that
// with a scale factor every place would be off by it. `window` says which screen and scale.
QRect screenPixels(const QRect& logical, const QWindow* window);
// The child of `node` whose screen-pixel rectangle holds the point, the last drawn first: the
// search the bridge runs down for what lies under the pointer.
QAccessibleInterface* childAtScreenPixel(const QAccessibleInterface* node, int x, int y);
// Tells the bus each time `item` turns usable or unusable: Qt Quick tells no change of the
// disabled state itself. Disconnect what it returns when the item's interface goes.
QMetaObject::Connection tellEnabledChanges(QQuickItem* item);
} // namespace accessibleItems
