#include "shared/ui/BusPlaces.h"

#include <QAccessible>
#include <QQuickItem>
#include <QScreen>
#include <QWindow>

QRect accessibleItems::screenPixels(const QRect& logical, const QWindow* window)
{
    if (!window || logical.isNull())
        return logical;
    const qreal scale = window->devicePixelRatio();
    if (qFuzzyCompare(scale, 1.0))
        return logical;
    // A screen's corner is the same in both coordinates; only what lies beyond it is scaled.
    const QScreen* screen = window->screen();
    const QPointF origin = screen ? QPointF(screen->geometry().topLeft()) : QPointF();
    const QPointF topLeft = origin + (QPointF(logical.topLeft()) - origin) * scale;
    return QRect(topLeft.toPoint(), (QSizeF(logical.size()) * scale).toSize());
}

QAccessibleInterface* accessibleItems::childAtScreenPixel(const QAccessibleInterface* node, int x, int y)
{
    if (!node)
        return nullptr;
    for (int i = node->childCount() - 1; i >= 0; --i) {
        QAccessibleInterface* child = node->child(i);
        if (child && !child->state().invisible && child->rect().contains(x, y))
            return child;
    }
    return nullptr;
}

QMetaObject::Connection accessibleItems::tellEnabledChanges(QQuickItem* item)
{
    return QObject::connect(item, &QQuickItem::enabledChanged, item, [item] {
        QAccessible::State changed;
        changed.disabled = true;
        QAccessibleStateChangeEvent event(item, changed);
        QAccessible::updateAccessibility(&event);
    });
}
