#pragma once

#include <QQuickItem>
#include <QString>

// The title row of a part of the window that opens and closes (a disclosure card, a history card).
// On the accessibility bus it is a button that says whether its part is open (expandable, expanded
// or collapsed), which Qt Quick's own items cannot tell, and its Press opens or closes it as a
// click does. Its name is `title`, its description `description`; the QML also sets
// `Accessible.name`, which puts it in the tree. Tab reaches it, and Space or Return opens or
// closes it; `visualFocus` is whether the keyboard brought the focus, when its mark shows.
class DisclosureHeader : public QQuickItem {
    Q_OBJECT
    Q_PROPERTY(bool expanded READ expanded WRITE setExpanded NOTIFY expandedChanged)
    Q_PROPERTY(QString title READ title WRITE setTitle NOTIFY titleChanged)
    Q_PROPERTY(QString description READ description WRITE setDescription NOTIFY descriptionChanged)
    Q_PROPERTY(bool visualFocus READ visualFocus NOTIFY visualFocusChanged)

public:
    explicit DisclosureHeader(QQuickItem* parent = nullptr);

    bool expanded() const { return m_expanded; }
    void setExpanded(bool expanded);
    QString title() const { return m_title; }
    void setTitle(const QString& title);
    QString description() const { return m_description; }
    void setDescription(const QString& description);
    bool visualFocus() const { return m_visualFocus; }

    // What a click, or the bus's Press, asks for: nothing while the header is disabled.
    Q_INVOKABLE void activate();

    static void registerQmlType();

signals:
    void expandedChanged();
    void titleChanged();
    void descriptionChanged();
    void visualFocusChanged();
    // Open or close, as the owner decides.
    void activated();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void setVisualFocus(bool shown);

    bool m_expanded = false;
    bool m_visualFocus = false;
    QString m_title;
    QString m_description;
};
