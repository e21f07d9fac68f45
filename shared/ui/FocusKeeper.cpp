#include "shared/ui/FocusKeeper.h"

#include <QMetaMethod>
#include <QQuickItem>
#include <QQuickWindow>

namespace {

const char* const kKeeperName = "tovrickFocusKeeper";

bool isControl(const QQuickItem* item)
{
    return item && item->activeFocusOnTab();
}

FocusKeeperAttached* attachedOf(QQuickItem* item)
{
    return qobject_cast<FocusKeeperAttached*>(qmlAttachedPropertiesObject<FocusKeeper>(item, false));
}

bool keyReason(int reason)
{
    return reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason;
}

// Whether the control draws the keyboard's ring now. What has neither property (a text field's
// edge) draws it whenever it has the focus.
bool ringShown(const QQuickItem* item)
{
    const QVariant visual = item->property("visualFocus");
    if (visual.isValid())
        return visual.toBool();
    const QVariant reason = item->property("focusReason");
    return !reason.isValid() || keyReason(reason.toInt());
}

// The controls in and under `around`, in Tab's order (the items' own order); `at` is where `mark`
// stands among them, or -1.
void controlsIn(QQuickItem* around, const QQuickItem* mark, QList<QQuickItem*>& out, qsizetype& at)
{
    for (QQuickItem* child : around->childItems()) {
        if (child == mark)
            at = out.size();
        if (isControl(child))
            out.append(child);
        controlsIn(child, mark, out, at);
    }
}

} // namespace

FocusKeeperAttached::FocusKeeperAttached(QObject* owner)
    : QObject(owner)
{
    // The window's keeper is there as soon as a page says anything of the focus.
    if (auto* item = qobject_cast<QQuickItem*>(owner)) {
        auto made = [item] {
            if (QQuickWindow* window = item->window())
                FocusKeeper::of(*window);
        };
        connect(item, &QQuickItem::windowChanged, this, made);
        made();
    }
}

void FocusKeeperAttached::setTarget(QQuickItem* item)
{
    if (m_target == item)
        return;
    m_target = item;
    emit changed();
}

void FocusKeeperAttached::setWaiting(bool waiting)
{
    if (m_waiting == waiting)
        return;
    m_waiting = waiting;
    emit changed();
}

void FocusKeeperAttached::setHome(QQuickItem* item)
{
    if (m_home == item)
        return;
    m_home = item;
    emit changed();
}

void FocusKeeperAttached::setAvoided(bool avoided)
{
    if (m_avoided == avoided)
        return;
    m_avoided = avoided;
    emit changed();
}

void FocusKeeperAttached::giveBack(QQuickItem* opener, bool marked)
{
    auto* item = qobject_cast<QQuickItem*>(parent());
    if (QQuickWindow* window = item ? item->window() : nullptr)
        FocusKeeper::of(*window).giveBack(opener, marked);
}

FocusKeeperAttached* FocusKeeper::qmlAttachedProperties(QObject* owner)
{
    return new FocusKeeperAttached(owner);
}

void FocusKeeper::registerQmlType()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    qmlRegisterUncreatableType<FocusKeeper>("Tovrick.Ui", 1, 0, "FocusKeeper",
                                            QStringLiteral("one per window, made by the window"));
}

FocusKeeper& FocusKeeper::of(QQuickWindow& window)
{
    if (auto* keeper = window.findChild<FocusKeeper*>(QLatin1String(kKeeperName), Qt::FindDirectChildrenOnly))
        return *keeper;
    return *new FocusKeeper(window);
}

FocusKeeper::FocusKeeper(QQuickWindow& window)
    : QObject(&window)
    , m_window(window)
{
    setObjectName(QLatin1String(kKeeperName));
    connect(&window, &QQuickWindow::activeFocusItemChanged, this, &FocusKeeper::focusMoved);
    connect(&window, &QWindow::activeChanged, this, &FocusKeeper::activeChanged);
    connect(&window, &QWindow::visibleChanged, this, [this](bool visible) {
        if (!visible)
            m_firstOnOpen = false;
    });
    focusMoved();
}

void FocusKeeper::giveBack(QQuickItem* opener, bool marked)
{
    if (!opener)
        return;
    hold(opener);
    m_holds = false;
    m_marked = marked;
    m_returning = true;
    m_pending = true;
    schedule();
}

void FocusKeeper::focusFirstOnOpen()
{
    m_firstOnOpen = true;
    // A window whose controls come with its content (an answer awaited) gives the first of them the
    // focus once it is drawn.
    if (!m_drawn)
        m_drawn = connect(&m_window, &QQuickWindow::frameSwapped, this, [this] {
            if (!m_firstOnOpen) {
                disconnect(m_drawn);
                m_drawn = {};
            } else if (!m_pending) {
                schedule();
            }
        });
    schedule();
}

void FocusKeeper::focusMoved()
{
    if (m_landing)
        return;
    QQuickItem* now = m_window.activeFocusItem();
    // The window stopped being active: its focus comes back with it.
    if (!now && !m_window.isActive())
        return;
    if (isControl(now) && now->isVisible() && now->isEnabled()) {
        // A dialog that closed names where the focus goes; Qt's own return as it closes does not.
        if (m_returning && m_pending && m_scheduled)
            return;
        // Qt gives a control the focus back without its ring, when it comes back on or its window
        // is active again.
        const bool back = now == m_held && m_marked && !ringShown(now);
        m_pending = false;
        m_returning = false;
        m_firstOnOpen = false;
        unwatch();
        if (back)
            land(now, true);
        else
            hold(now);
        return;
    }
    if (m_holds || m_pending) {
        m_holds = false;
        m_pending = true;
        schedule();
    }
}

void FocusKeeper::activeChanged()
{
    if (m_window.isActive() && (m_pending || m_firstOnOpen))
        schedule();
}

void FocusKeeper::hold(QQuickItem* control)
{
    m_holds = true;
    m_marked = ringShown(control);
    if (m_held == control)
        return;
    for (const QMetaObject::Connection& connection : m_heldWatch)
        disconnect(connection);
    m_heldWatch.clear();
    m_held = control;
    m_chain.clear();
    for (QQuickItem* item = control; item; item = item->parentItem())
        m_chain.append(item);
    auto changed = [this] {
        const bool gone = !m_held || !m_held->isVisible() || !m_held->isEnabled();
        if (m_holds && gone)
            lose();
        else if (m_pending)
            schedule();
    };
    m_heldWatch << connect(control, &QQuickItem::visibleChanged, this, changed)
                << connect(control, &QQuickItem::enabledChanged, this, changed)
                << connect(control, &QObject::destroyed, this, changed);
    const int visual = control->metaObject()->indexOfProperty("visualFocus");
    if (visual >= 0 && control->metaObject()->property(visual).hasNotifySignal()) {
        const QMetaMethod notify = control->metaObject()->property(visual).notifySignal();
        const QMetaMethod update = metaObject()->method(metaObject()->indexOfSlot("markChanged()"));
        m_heldWatch << connect(control, notify, this, update);
    }
}

void FocusKeeper::markChanged()
{
    if (m_held && m_holds && m_held->hasActiveFocus())
        m_marked = ringShown(m_held);
}

void FocusKeeper::lose()
{
    m_holds = false;
    m_pending = true;
    schedule();
}

void FocusKeeper::schedule()
{
    if (m_scheduled)
        return;
    m_scheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_scheduled = false;
            settle();
        },
        Qt::QueuedConnection);
}

bool FocusKeeper::usable(const QQuickItem* item) const
{
    return isControl(item) && item->window() == &m_window && item->isVisible() && item->isEnabled();
}

void FocusKeeper::settle()
{
    if (!m_window.isVisible() || !m_window.isActive())
        return;
    QQuickItem* now = m_window.activeFocusItem();
    if (m_firstOnOpen && !m_pending) {
        if (usable(now)) {
            m_firstOnOpen = false;
            return;
        }
        QList<QQuickItem*> controls;
        qsizetype at = -1;
        controlsIn(m_window.contentItem(), nullptr, controls, at);
        for (QQuickItem* control : controls) {
            if (usable(control)) {
                m_firstOnOpen = false;
                land(control, true);
                return;
            }
        }
        return;
    }
    if (!m_pending)
        return;
    unwatch();
    QQuickItem* lost = m_held;
    // The control itself, back on once its work ended (or the opener of what closed).
    if (usable(lost)) {
        land(lost, m_marked);
        return;
    }
    // Someone else placed it: a dialog that opened, the user.
    if (!m_returning && usable(now)) {
        land(now, false);
        return;
    }
    QList<QQuickItem*> chain;
    for (const QPointer<QQuickItem>& item : m_chain)
        if (item)
            chain.append(item);
    // What the page names for this moment, unless its work still runs.
    for (QQuickItem* item : chain) {
        FocusKeeperAttached* said = attachedOf(item);
        if (!said)
            continue;
        watch(said);
        if (QQuickItem* target = said->target()) {
            watch(target);
            if (usable(target)) {
                land(target, m_marked);
                return;
            }
        }
        if (said->waiting())
            return;
    }
    QQuickItem* home = nullptr;
    QQuickItem* stop = nullptr;
    for (QQuickItem* item : chain) {
        if (FocusKeeperAttached* said = attachedOf(item); said && said->home()) {
            home = said->home();
            stop = item;
            watch(home);
            break;
        }
    }
    if (QQuickItem* near = nearest(chain, stop)) {
        land(near, m_marked);
        return;
    }
    if (usable(home))
        land(home, m_marked);
    // Else nothing takes it yet: what changes around it is watched.
}

QQuickItem* FocusKeeper::nearest(const QList<QQuickItem*>& chain, QQuickItem* stop) const
{
    const QQuickItem* lost = m_held;
    auto takes = [this](QQuickItem* item) {
        const FocusKeeperAttached* said = attachedOf(item);
        return usable(item) && !(said && said->avoided());
    };
    for (QQuickItem* around : chain) {
        if (around == lost)
            continue;
        QList<QQuickItem*> controls;
        qsizetype at = -1;
        if (around == stop) {
            // The page's edge: only the page's own controls, not what lies beside it.
            break;
        }
        controlsIn(around, lost, controls, at);
        const qsizetype from = at < 0 ? 0 : at;
        for (qsizetype i = from; i < controls.size(); ++i)
            if (controls[i] != lost && takes(controls[i]))
                return controls[i];
        for (qsizetype i = from - 1; i >= 0; --i)
            if (takes(controls[i]))
                return controls[i];
    }
    return nullptr;
}

void FocusKeeper::watch(QObject* object)
{
    if (auto* said = qobject_cast<FocusKeeperAttached*>(object)) {
        m_watch << connect(said, &FocusKeeperAttached::changed, this, &FocusKeeper::schedule);
    } else if (auto* item = qobject_cast<QQuickItem*>(object)) {
        m_watch << connect(item, &QQuickItem::visibleChanged, this, &FocusKeeper::schedule)
                << connect(item, &QQuickItem::enabledChanged, this, &FocusKeeper::schedule);
    }
}

void FocusKeeper::unwatch()
{
    for (const QMetaObject::Connection& connection : m_watch)
        disconnect(connection);
    m_watch.clear();
}

void FocusKeeper::land(QQuickItem* control, bool marked)
{
    const Qt::FocusReason reason = marked ? Qt::TabFocusReason : Qt::OtherFocusReason;
    m_landing = true;
    if (!control->hasActiveFocus()) {
        control->forceActiveFocus(reason);
        // It kept its focus while it was off: its scope gave it up, not it.
        if (!control->hasActiveFocus()) {
            control->setFocus(false);
            control->forceActiveFocus(reason);
        }
    }
    if (marked && control->hasActiveFocus() && !ringShown(control)) {
        const int at = control->metaObject()->indexOfProperty("focusReason");
        if (at >= 0 && control->metaObject()->property(at).isWritable()) {
            control->setProperty("focusReason", int(Qt::TabFocusReason));
        } else {
            control->setFocus(false);
            control->forceActiveFocus(Qt::TabFocusReason);
        }
    }
    m_landing = false;
    m_pending = false;
    m_returning = false;
    unwatch();
    if (control->hasActiveFocus())
        hold(control);
}
