#pragma once

#include <QList>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QQuickItem>
#include <QtQml/qqml.h>

class QQuickWindow;

// What a page says of the keyboard's focus, on any of its items (`FocusKeeper.target: ...`). The
// window's keeper reads it from the control that lost the focus outwards.
class FocusKeeperAttached : public QObject {
    Q_OBJECT
    // Where the focus goes when the control that had it, in here, turns off, hides or goes.
    Q_PROPERTY(QQuickItem* target READ target WRITE setTarget NOTIFY changed)
    // The controls in here are off only while their work runs: the focus waits for it to end.
    Q_PROPERTY(bool waiting READ waiting WRITE setWaiting NOTIFY changed)
    // Where the focus goes when nothing nearer takes it (the tab of the page shown); the search for
    // a near control does not go past the item that names it.
    Q_PROPERTY(QQuickItem* home READ home WRITE setHome NOTIFY changed)
    // Its press ends or deletes something: the keeper never puts the focus there of its own accord.
    Q_PROPERTY(bool avoided READ avoided WRITE setAvoided NOTIFY changed)

public:
    explicit FocusKeeperAttached(QObject* owner);

    QQuickItem* target() const { return m_target; }
    void setTarget(QQuickItem* item);
    bool waiting() const { return m_waiting; }
    void setWaiting(bool waiting);
    QQuickItem* home() const { return m_home; }
    void setHome(QQuickItem* item);
    bool avoided() const { return m_avoided; }
    void setAvoided(bool avoided);

    // What `opener` opened (a dialog, a window) closed: the focus goes back there, else where the
    // keeper finds; with its ring when `marked`.
    Q_INVOKABLE void giveBack(QQuickItem* opener, bool marked);

signals:
    void changed();

private:
    QPointer<QQuickItem> m_target;
    QPointer<QQuickItem> m_home;
    bool m_waiting = false;
    bool m_avoided = false;
};

// The one place that decides where a window's keyboard focus goes when the control that has it
// turns off, hides or goes, or when a dialog or window it opened closes: once the page's change has
// settled (the next turn of the event loop), to the control the page names, else back to the
// control itself when it came back on, else the nearest shown and enabled control around it, else
// the page's home. It never leaves the focus on nothing, on a hidden control or on a panel, and
// gives the ring back wherever the keyboard had it.
class FocusKeeper : public QObject {
    Q_OBJECT
    QML_ATTACHED(FocusKeeperAttached)

public:
    static FocusKeeperAttached* qmlAttachedProperties(QObject* owner);
    // Available to QML as the attached `FocusKeeper` under Tovrick.Ui 1.0.
    static void registerQmlType();
    // The window's keeper, made on the first call.
    static FocusKeeper& of(QQuickWindow& window);

    void giveBack(QQuickItem* opener, bool marked);
    // The window's first control takes the focus, with its ring, once the window is active and
    // nothing has it yet.
    void focusFirstOnOpen();

private slots:
    void markChanged();

private:
    explicit FocusKeeper(QQuickWindow& window);

    void focusMoved();
    void activeChanged();
    void hold(QQuickItem* control);
    void lose();
    void schedule();
    void settle();
    void watch(QObject* object);
    bool usable(const QQuickItem* item) const;
    void unwatch();
    void land(QQuickItem* control, bool marked);
    QQuickItem* nearest(const QList<QQuickItem*>& chain, QQuickItem* stop) const;

    QQuickWindow& m_window;
    // The control that last had the focus, its ring and the items around it (they outlive it).
    QPointer<QQuickItem> m_held;
    bool m_marked = false;
    bool m_holds = false;
    QList<QPointer<QQuickItem>> m_chain;
    QList<QMetaObject::Connection> m_heldWatch;
    // Lost: the focus is to be placed once the page settles.
    bool m_pending = false;
    bool m_scheduled = false;
    bool m_landing = false;
    // A dialog or window closed: the place it names wins over Qt's own return.
    bool m_returning = false;
    bool m_firstOnOpen = false;
    QMetaObject::Connection m_drawn;
    QList<QMetaObject::Connection> m_watch;
};
