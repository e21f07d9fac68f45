#pragma once

#include <QByteArray>
#include <QDBusArgument>
#include <QDBusVariant>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariantMap>

// The structures the tray protocol (a status item and its exported menu) sends over D-Bus, with
// their marshalling. Shared by the tray and by the tests that play the desktop's side.

// One icon size: width, height and ARGB32 pixels in network byte order ("(iiay)").
struct TrayPixmap {
    int width = 0;
    int height = 0;
    QByteArray pixels;
};
using TrayPixmaps = QList<TrayPixmap>;

// "(sa(iiay)ss)": icon name, icon, title, description.
struct TrayToolTip {
    QString iconName;
    TrayPixmaps icon;
    QString title;
    QString description;
};

// One node of the exported menu ("(ia{sv}av)"), its children nested in variants.
struct MenuLayoutItem {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayoutItem> children;
};

// "(ia{sv})".
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};
using MenuItemPropertiesList = QList<MenuItemProperties>;

// "(isvu)": one event of a group.
struct MenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using MenuEventList = QList<MenuEvent>;

// "aas": the key combinations shown beside an item.
using MenuShortcut = QList<QStringList>;

Q_DECLARE_METATYPE(TrayPixmap)
Q_DECLARE_METATYPE(TrayToolTip)
Q_DECLARE_METATYPE(MenuLayoutItem)
Q_DECLARE_METATYPE(MenuItemProperties)
Q_DECLARE_METATYPE(MenuEvent)

QDBusArgument& operator<<(QDBusArgument& argument, const TrayPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& argument, TrayPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& argument, const TrayToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& argument, TrayToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayoutItem& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayoutItem& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties& item);
QDBusArgument& operator<<(QDBusArgument& argument, const MenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuEvent& event);

namespace dbusMenuTypes {
// Makes the types above known to Qt's D-Bus layer. Safe to call more than once.
void registerAll();
} // namespace dbusMenuTypes
