#include "Tovrick/focus/ControlAccessible.h"

#include <QAccessible>
#include <QAccessibleObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QVariant>
#include <QtQml/qqml.h>

#include "shared/ui/BusPlaces.h"

namespace {

// The item's `Accessible` attached object: the one QML knows, which its handlers are on. Qt makes
// each a child of its item, but an item can hold a second, stray one.
QObject* attachedOf(QQuickItem* item)
{
    for (QObject* child : item->children()) {
        if (qstrcmp(child->metaObject()->className(), "QQuickAccessibleAttached") != 0)
            continue;
        QObject* known = qmlAttachedPropertiesObject(item, qmlAttachedPropertiesFunction(item, child->metaObject()), false);
        return known ? known : child;
    }
    return nullptr;
}

class ControlAccessibleItem : public QAccessibleObject,
                              public QAccessibleActionInterface,
                              public QAccessibleValueInterface {
public:
    explicit ControlAccessibleItem(QQuickItem* item)
        : QAccessibleObject(item)
    {
        // Qt Quick tells no change of the disabled state: a button that turns usable says so.
        m_watch = accessibleItems::tellEnabledChanges(item);
    }
    ~ControlAccessibleItem() override { QObject::disconnect(m_watch); }
    QMetaObject::Connection m_watch;

    QQuickItem* item() const { return static_cast<QQuickItem*>(object()); }
    QVariant attached(const char* name) const
    {
        const QObject* attached = attachedOf(item());
        return attached ? attached->property(name) : QVariant();
    }
    bool checkable() const
    {
        const QAccessible::Role kind = role();
        return kind == QAccessible::CheckBox || kind == QAccessible::RadioButton
            || item()->property("checkable").toBool();
    }
    bool ranged() const
    {
        const QAccessible::Role kind = role();
        return kind == QAccessible::ScrollBar || kind == QAccessible::Slider;
    }
    bool focusable() const { return item()->activeFocusOnTab() && item()->isEnabled(); }

    QWindow* window() const override { return item()->window(); }
    QAccessibleInterface* parent() const override { return listedParentOf(item()); }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Name) {
            // A control without a name of its own is called by its label, as Qt Quick's view does.
            const QString name = attached("name").toString();
            return name.isEmpty() ? item()->property("text").toString() : name;
        }
        if (kind == QAccessible::Description)
            return attached("description").toString();
        return {};
    }
    QAccessible::Role role() const override
    {
        if (const int kind = attached("role").toInt())
            return QAccessible::Role(kind);
        // What Qt Quick's controls call themselves when nothing says otherwise.
        const QQuickItem* control = item();
        if (control->inherits("QQuickScrollBar"))
            return QAccessible::ScrollBar;
        if (control->inherits("QQuickSwitch") || control->inherits("QQuickCheckBox"))
            return QAccessible::CheckBox;
        if (control->inherits("QQuickRadioButton"))
            return QAccessible::RadioButton;
        return QAccessible::Button;
    }
    QRect rect() const override
    {
        const QQuickItem* control = item();
        if (!control->window() || !control->isVisible())
            return {};
        const QPointF topLeft = control->mapToGlobal(QPointF(0, 0));
        return accessibleItems::screenPixels(QRect(topLeft.toPoint(), QSize(int(control->width()), int(control->height()))),
                                             control->window());
    }
    QAccessible::State state() const override
    {
        const QQuickItem* control = item();
        QAccessible::State state;
        const QWindow* shownIn = control->window();
        if (!shownIn || !shownIn->isVisible() || !control->isVisible() || qFuzzyIsNull(control->opacity()))
            state.invisible = true;
        state.disabled = !control->isEnabled();
        state.focusable = focusable();
        state.focused = control->hasActiveFocus();
        state.selected = attached("selected").toBool();
        if (checkable()) {
            state.checkable = true;
            state.checked = control->property("checked").toBool();
        }
        state.pressed = control->property("down").toBool();
        return state;
    }

    void* interface_cast(QAccessible::InterfaceType type) override
    {
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface*>(this);
        if (type == QAccessible::ValueInterface && ranged())
            return static_cast<QAccessibleValueInterface*>(this);
        return nullptr;
    }

    QStringList actionNames() const override
    {
        QStringList names;
        if (checkable())
            names << toggleAction() << pressAction();
        else if (ranged())
            names << increaseAction() << decreaseAction();
        else
            names << pressAction();
        if (focusable())
            names << setFocusAction();
        return names;
    }
    void doAction(const QString& name) override
    {
        if (name == setFocusAction()) {
            if (focusable())
                item()->forceActiveFocus(Qt::OtherFocusReason);
            return;
        }
        // The control's own `Accessible` handler decides, as it does for Qt Quick's view.
        const char* handler = name == pressAction() ? "pressAction"
            : name == toggleAction()                ? "toggleAction"
            : name == increaseAction()              ? "increaseAction"
            : name == decreaseAction()              ? "decreaseAction"
                                                    : nullptr;
        if (QObject* attached = attachedOf(item()); attached && handler)
            QMetaObject::invokeMethod(attached, handler);
    }
    QStringList keyBindingsForAction(const QString&) const override { return {}; }

    // A ranged control gives its range as `value`, `minimumValue` and `maximumValue`.
    QVariant currentValue() const override { return item()->property("value"); }
    void setCurrentValue(const QVariant& value) override { item()->setProperty("value", value); }
    QVariant maximumValue() const override { return item()->property("maximumValue"); }
    QVariant minimumValue() const override { return item()->property("minimumValue"); }
    QVariant minimumStepSize() const override { return item()->property("stepSize"); }
};

QAccessibleInterface* controlFactory(const QString&, QObject* object)
{
    auto* item = qobject_cast<QQuickItem*>(object);
    if (item && item->metaObject()->indexOfProperty("reportsDisabled") >= 0)
        return new ControlAccessibleItem(item);
    return nullptr;
}

} // namespace

void controlAccessible::install()
{
    // Installed after Qt Quick's own, so asked first.
    QAccessible::installFactory(controlFactory);
}

QAccessibleInterface* listedParentOf(QQuickItem* item)
{
    QQuickWindow* window = item->window();
    QAccessibleInterface* self = QAccessible::queryAccessibleInterface(item);
    for (QQuickItem* above = item->parentItem(); above; above = above->parentItem()) {
        if (window && above == window->contentItem())
            break;
        QAccessibleInterface* candidate = QAccessible::queryAccessibleInterface(above);
        if (candidate && self && candidate->indexOfChild(self) >= 0)
            return candidate;
    }
    return window ? QAccessible::queryAccessibleInterface(window) : nullptr;
}
