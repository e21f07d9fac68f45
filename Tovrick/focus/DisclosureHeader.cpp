#include "Tovrick/focus/DisclosureHeader.h"

#include "Tovrick/focus/BusStateSignal.h"
#include "Tovrick/focus/ControlAccessible.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QKeyEvent>
#include <QQuickWindow>
#include <QtQml>

#include "shared/ui/BusPlaces.h"

namespace {

class DisclosureHeaderAccessible : public QAccessibleObject, public QAccessibleActionInterface {
public:
    explicit DisclosureHeaderAccessible(DisclosureHeader* header)
        : QAccessibleObject(header)
    {
        m_watch = accessibleItems::tellEnabledChanges(header);
    }
    ~DisclosureHeaderAccessible() override { QObject::disconnect(m_watch); }
    QMetaObject::Connection m_watch;

    DisclosureHeader* header() const { return static_cast<DisclosureHeader*>(object()); }

    QWindow* window() const override { return header()->window(); }

    QAccessibleInterface* parent() const override { return listedParentOf(header()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name)
            return header()->title();
        if (kind == QAccessible::Description)
            return header()->description();
        return {};
    }
    QAccessible::Role role() const override { return QAccessible::Button; }
    QRect rect() const override
    {
        const DisclosureHeader* item = header();
        if (!item->window() || !item->isVisible())
            return {};
        const QPointF topLeft = item->mapToGlobal(QPointF(0, 0));
        return accessibleItems::screenPixels(QRect(topLeft.toPoint(), QSize(int(item->width()), int(item->height()))),
                                             item->window());
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
        state.focusable = item->activeFocusOnTab() && item->isEnabled();
        state.focused = item->hasActiveFocus();
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
    setActiveFocusOnTab(true);
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
        // Qt's bridge passes neither change on to the bus: a screen reader hears of it only so.
        if (QAccessibleInterface* self = QAccessible::queryAccessibleInterface(this)) {
            sendBusStateChange(self, QStringLiteral("expanded"), m_expanded);
            sendBusStateChange(self, QStringLiteral("collapsed"), !m_expanded);
        }
    }
}

void DisclosureHeader::setDescription(const QString& description)
{
    if (m_description == description)
        return;
    m_description = description;
    emit descriptionChanged();
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::DescriptionChanged);
        QAccessible::updateAccessibility(&event);
    }
}

void DisclosureHeader::keyPressEvent(QKeyEvent* event)
{
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    const int key = event->key();
    if (plain && (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        event->accept();
        if (!event->isAutoRepeat())
            activate();
        return;
    }
    QQuickItem::keyPressEvent(event);
}

void DisclosureHeader::focusInEvent(QFocusEvent* event)
{
    QQuickItem::focusInEvent(event);
    const Qt::FocusReason reason = event->reason();
    setVisualFocus(reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason);
}

void DisclosureHeader::focusOutEvent(QFocusEvent* event)
{
    QQuickItem::focusOutEvent(event);
    setVisualFocus(false);
}

void DisclosureHeader::setVisualFocus(bool shown)
{
    if (m_visualFocus == shown)
        return;
    m_visualFocus = shown;
    emit visualFocusChanged();
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
