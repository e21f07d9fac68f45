#pragma once

#include <QAccessible>
#include <QQuickItem>
#include <QQuickWindow>
#include <QString>

#include <functional>

#include "Tovrick/screen/XTestInput.h"
#include "support/RunTask.h"

// The name a control has on the bus; empty for none.
inline QString busNameOf(QQuickItem* item)
{
    QAccessibleInterface* node = item ? QAccessible::queryAccessibleInterface(item) : nullptr;
    return node ? node->text(QAccessible::Name) : QString();
}

// Posts a key as the user's and waits until the window has taken it: the focus moved, or `done`
// holds.
inline bool pressInWindow(XTestInput& keys, QQuickWindow& window, unsigned long keysym, unsigned held = 0,
                          std::function<bool()> done = {})
{
    QQuickItem* before = window.activeFocusItem();
    if (!done)
        done = [&window, before] { return window.activeFocusItem() != before; };
    bool posted = false;
    waitUntil([&] {
        posted = keys.key(keysym, held) == SyntheticInput::Post::posted;
        return posted;
    });
    return posted && waitUntil(done);
}
