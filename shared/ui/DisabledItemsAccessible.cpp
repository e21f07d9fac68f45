#include "shared/ui/DisabledItemsAccessible.h"

#include <QAccessible>
#include <QPointer>
#include <QQuickItem>
#include <QQuickWindow>

#include "shared/ui/BusPlaces.h"

namespace {

// Qt's own interface for an object, answering for it in screen pixels; everything else is Qt's:
// the other interfaces (actions, value, text) are handed out as they are.
class ScreenPlaced : public QAccessibleInterface {
public:
    explicit ScreenPlaced(QAccessibleInterface* inner) : m_inner(inner), m_innerId(QAccessible::uniqueId(inner)) {}
    ~ScreenPlaced() override
    {
        // Qt keeps its own interface in the cache as well; it goes with this one, unless the cache
        // has let it go already (as it does with all of them when it ends).
        if (QAccessible::accessibleInterface(m_innerId) == m_inner)
            QAccessible::deleteAccessibleInterface(m_innerId);
    }

    QWindow* window() const override { return m_inner->window(); }
    QList<std::pair<QAccessibleInterface*, QAccessible::Relation>> relations(QAccessible::Relation match) const override
    {
        return m_inner->relations(match);
    }
    QAccessibleInterface* focusChild() const override { return m_inner->focusChild(); }
    QAccessibleInterface* childAt(int x, int y) const override { return accessibleItems::childAtScreenPixel(this, x, y); }
    QAccessibleInterface* parent() const override { return m_inner->parent(); }
    QAccessibleInterface* child(int index) const override { return m_inner->child(index); }
    int childCount() const override { return m_inner->childCount(); }
    int indexOfChild(const QAccessibleInterface* child) const override { return m_inner->indexOfChild(child); }
    QString text(QAccessible::Text t) const override { return m_inner->text(t); }
    void setText(QAccessible::Text t, const QString& text) override { m_inner->setText(t, text); }
    QRect rect() const override { return accessibleItems::screenPixels(m_inner->rect(), window()); }
    QAccessible::Role role() const override { return m_inner->role(); }
    QAccessible::State state() const override { return m_inner->state(); }
    QColor foregroundColor() const override { return m_inner->foregroundColor(); }
    QColor backgroundColor() const override { return m_inner->backgroundColor(); }
    void* interface_cast(QAccessible::InterfaceType type) override { return m_inner->interface_cast(type); }

protected:
    QAccessibleInterface* m_inner;

private:
    QAccessible::Id m_innerId;
};

// An item, with the disabled state added and told when it changes.
class DisabledAware : public ScreenPlaced {
public:
    DisabledAware(QQuickItem* item, QAccessibleInterface* inner) : ScreenPlaced(inner), m_item(item)
    {
        m_watch = accessibleItems::tellEnabledChanges(item);
    }
    ~DisabledAware() override { QObject::disconnect(m_watch); }

    bool isValid() const override { return m_item && m_inner->isValid(); }
    QObject* object() const override { return m_item; }
    QAccessible::State state() const override
    {
        QAccessible::State state = m_inner->state();
        if (m_item && !m_item->isEnabled())
            state.disabled = true;
        return state;
    }

private:
    QPointer<QQuickItem> m_item;
    QMetaObject::Connection m_watch;
};

// A Qt Quick window.
class ScreenPlacedWindow : public ScreenPlaced {
public:
    ScreenPlacedWindow(QQuickWindow* window, QAccessibleInterface* inner) : ScreenPlaced(inner), m_window(window) {}

    bool isValid() const override { return m_window && m_inner->isValid(); }
    QObject* object() const override { return m_window; }
    QWindow* window() const override { return m_window; }

private:
    QPointer<QQuickWindow> m_window;
};

bool askingQt = false;

QAccessibleInterface* disabledAwareFactory(const QString&, QObject* object)
{
    if (auto* window = qobject_cast<QQuickWindow*>(object); window && !askingQt) {
        askingQt = true;
        QAccessibleInterface* inner = QAccessible::queryAccessibleInterface(object);
        askingQt = false;
        if (!inner || dynamic_cast<ScreenPlacedWindow*>(inner))
            return nullptr;
        return new ScreenPlacedWindow(window, inner);
    }
    auto* item = qobject_cast<QQuickItem*>(object);
    if (!item || askingQt)
        return nullptr;
    // Qt's own answer, which its cache keeps under its own id; this one takes the item's place.
    askingQt = true;
    QAccessibleInterface* inner = QAccessible::queryAccessibleInterface(object);
    askingQt = false;
    if (!inner || dynamic_cast<DisabledAware*>(inner))
        return nullptr;
    return new DisabledAware(item, inner);
}

} // namespace

void accessibleItems::reportDisabled()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(disabledAwareFactory);
}
