#pragma once

#include <QQuickItem>
#include <QString>

// Through the visual tree: a repeater's rows are not the QObject children of anything in it.
inline QQuickItem* findItem(QQuickItem* item, const QString& name)
{
    if (!item || item->objectName() == name)
        return item;
    for (QQuickItem* child : item->childItems())
        if (QQuickItem* found = findItem(child, name))
            return found;
    return nullptr;
}

// Shown when it and every item above it are visible.
inline bool isShown(QQuickItem* item)
{
    for (; item; item = item->parentItem())
        if (!item->isVisible())
            return false;
    return true;
}
