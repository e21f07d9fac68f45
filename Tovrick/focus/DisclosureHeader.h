#pragma once

#include <QQuickItem>
#include <QString>

// The title row of a part of the window that opens and closes (a disclosure card, a history card).
// On the accessibility bus it is a button that says whether its part is open (expandable, expanded
// or collapsed), which Qt Quick's own items cannot tell, and its Press opens or closes it as a
// click does. Its name is `title`; the QML also sets `Accessible.name`, which puts it in the tree.
class DisclosureHeader : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)

public:
    explicit DisclosureHeader(QQuickItem* parent = nullptr);

    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    QString title() const { return m_title; }
    void setTitle(const QString& title);

    // What a click, or the bus's Press, asks for: nothing while the header is disabled.
    Q_INVOKABLE void activate();

    static void registerQmlType();

signals:
    void expandedChanged();
    void titleChanged();
    // Open or close, as the owner decides.
    void activated();

private:
    bool m_expanded = false;
    QString m_title;
};
