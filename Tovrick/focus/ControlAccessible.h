#pragma once

class QAccessibleInterface;
class QQuickItem;

// The accessibility bus's view of the controls of these windows that declare `reportsDisabled`
// (buttons, switches, scroll bars): what Qt Quick's own view gives, and also that a control is off
// (not enabled, not sensitive) while it is, as under a dialog, which Qt Quick's does not say.
// Their actions are those of their `Accessible` handlers, which each such control sets.
namespace controlAccessible {
// Answers for such controls from then on; call before the windows show.
void install();
}

// The nearest item above `item` whose node lists it among its children, or its window's node when
// none does: Qt Quick leaves out the items that are not in the tree.
QAccessibleInterface* listedParentOf(QQuickItem* item);
