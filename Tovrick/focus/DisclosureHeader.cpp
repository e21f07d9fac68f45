#include "Tovrick/focus/DisclosureHeader.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QQuickWindow>
#include <QtQml>

namespace {

class DisclosureHeaderAccessible : public QAccessibleObject, public QAccessibleActionInterface {
public:
    explicit DisclosureHeaderAccessible(DisclosureHeader* header)
        : QAccessibleObject(header)
    {
    }

    DisclosureHeader* header() const { return static_cast<DisclosureHeader*>(object()); }

    QWindow* window() const override { return header()->window(); }

    // The nearest item above that lists this header among its children, or the window when none
    // does: Qt Quick skips the items that are not in the tree.
    QAccessibleInterface* parent() const override
    {
        QQuickWindow* window = header()->window();
        for (QQuickItem* item = header()->parentItem(); item; item = item->parentItem()) {
            if (window && item == window->contentItem())
                break;
            QAccessibleInterface* candidate = QAccessible::queryAccessibleInterface(item);
            if (candidate && candidate->indexOfChild(this) >= 0)
                return candidate;
        }
        return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        return kind == QAccessible::Name ? header()->title() : QString();
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QRect rect() const override
    {
        const DisclosureHeader* item = header();
        if (!item->window() || !item->isVisible())
            return {};
        const QPointF topLeft = item->mapToGlobal(QPointF(0, 0));
        return QRect(topLeft.toPoint(), QSize(int(item->width()), int(item->height())));
    }
    QAccessible::State state() const override
    {
        const DisclosureHeader* item = header();
        QAccessible::State state;
        state.expandable = true;
        state.expanded = item->expanded();
        state.collapsed = !item->expanded();
        if (!item->window() || !item->window()->isVisible() || !item->isVisible() || item->opacity() <= 0)
            state.invisible = true;
        if (!item->isEnabled())
            state.disabled = true;
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        return nullptr;
    }
    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction())
            header()->activate();
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }
};

QAccessibleInterface* headerAccessible(const QString&, QObject* object)
{
    if (auto* header = qobject_cast<DisclosureHeader*>(object))
        return new DisclosureHeaderAccessible(header);
    return nullptr;
}

} // namespace

DisclosureHeader::DisclosureHeader(QQuickItem* parent)
    : QQuickItem(parent)
{
    // Installed after Qt Quick's own, so asked first.
    QAccessible::installFactory(headerAccessible);
}

void DisclosureHeader::setExpanded(bool expanded)
{
    if (m_expanded == expanded)
        return;
    m_expanded = expanded;
    emit expandedChanged();
    if (QAccessible::isActive()) {
        QAccessible::State changed;
        changed.expanded = true;
        changed.collapsed = true;
        QAccessibleStateChangeEvent event(this, changed);
        QAccessible::updateAccessibility(&event);
    }
}

void DisclosureHeader::setTitle(const QString& title)
{
    if (m_title == title)
        return;
    m_title = title;
    emit titleChanged();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void DisclosureHeader::activate()
{
    if (isEnabled())
        emit activated();
}

void DisclosureHeader::registerQmlType()
{
    qmlRegisterType<DisclosureHeader>("Tovrick.Focus", 1, 0, "DisclosureHeader");
}
