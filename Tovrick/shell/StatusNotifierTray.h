#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QTimer>

#include <functional>

#include "Tovrick/shell/DBusMenuTypes.h"
#include "Tovrick/shell/StatusMenu.h"

class QDBusServiceWatcher;
class StatusNotifierTray;

// The status item as the desktop's panel sees it ("org.kde.StatusNotifierItem").
class TrayItemObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ emptyText)
    Q_PROPERTY(QString IconName READ emptyText)
    Q_PROPERTY(QList<TrayPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ emptyText)
    Q_PROPERTY(QList<TrayPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ emptyText)
    Q_PROPERTY(QList<TrayPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ emptyText)
    Q_PROPERTY(TrayToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)

public:
    explicit TrayItemObject(StatusNotifierTray& tray);

    QString category() const { return QStringLiteral("ApplicationStatus"); }
    QString id() const { return QStringLiteral("tovrick"); }
    QString title() const { return QStringLiteral("Tovrick"); }
    QString status() const { return QStringLiteral("Active"); }
    int windowId() const { return 0; }
    QString emptyText() const { return {}; }
    TrayPixmaps iconPixmap() const;
    TrayPixmaps noPixmaps() const { return {}; }
    TrayToolTip toolTip() const;
    // A click anywhere on the icon opens the menu, as on a menu bar.
    bool itemIsMenu() const { return true; }
    QDBusObjectPath menu() const;

public slots:
    void Activate(int x, int y);
    void SecondaryActivate(int x, int y);
    void ContextMenu(int x, int y);
    void Scroll(int delta, const QString& orientation);

signals:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierTray& m_tray;
};

// The item's menu ("com.canonical.dbusmenu", version 3).
class TrayMenuObject : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)

public:
    explicit TrayMenuObject(StatusNotifierTray& tray);

    uint version() const { return 3; }
    QString textDirection() const { return QStringLiteral("ltr"); }
    QString status() const { return QStringLiteral("normal"); }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames, MenuLayoutItem& layout);
    QList<MenuItemProperties> GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames);
    QDBusVariant GetProperty(int id, const QString& name);
    void Event(int id, const QString& eventId, const QDBusVariant& data, uint timestamp);
    QList<int> EventGroup(const QList<MenuEvent>& events);
    bool AboutToShow(int id);
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors);

signals:
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    StatusNotifierTray& m_tray;
};

// The program's status item in the desktop's panel, spoken over the session bus to whatever panel
// registered itself as the status notifier host. Its menu is built from the running program each
// time the panel opens it, and again whenever the owner says the state changed.
class StatusNotifierTray : public QObject {
    Q_OBJECT

public:
    struct Ports {
        // The menu as it stands now.
        std::function<QList<StatusMenuItem>()> build;
        // A chosen item; called from the event loop, after the panel's call has been answered.
        std::function<void(const StatusMenuItem&)> choose;
        QImage icon;
    };

    static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kItemPath = "/StatusNotifierItem";
    static constexpr const char* kMenuPath = "/MenuBar";

    StatusNotifierTray(QDBusConnection bus, Ports ports, QObject* parent = nullptr);
    ~StatusNotifierTray() override;

    // Publishes the item and asks the watcher to show it; false, with one log line, when the desktop
    // has no status tray. A watcher that comes later is still told.
    bool start();
    bool isRegistered() const { return m_registered; }
    QString serviceName() const { return m_serviceName; }

    // The state changed: rebuild soon and tell the panel when the menu differs.
    void refresh();

    // For the exported objects.
    bool rebuild();
    uint revision() const { return m_revision; }
    const MenuLayoutItem& layout() const { return m_layout; }
    const MenuLayoutItem* node(int id) const;
    void ensureBuilt()
    {
        if (!m_built)
            rebuild();
    }
    void chooseLater(int id);
    void chooseLater(const StatusMenuItem& item);
    const TrayPixmaps& pixmaps() const { return m_pixmaps; }

signals:
    void registeredChanged(bool registered);

private:
    void registerWithWatcher();
    MenuLayoutItem toLayout(const StatusMenuItem& item, int& nextId);

    QDBusConnection m_bus;
    Ports m_ports;
    TrayItemObject m_item;
    TrayMenuObject m_menu;
    QString m_serviceName;
    QDBusServiceWatcher* m_watcher = nullptr;
    QTimer m_refresh;
    QList<StatusMenuItem> m_items;
    QHash<int, StatusMenuItem> m_byId;
    MenuLayoutItem m_layout;
    TrayPixmaps m_pixmaps;
    uint m_revision = 0;
    bool m_built = false;
    bool m_published = false;
    bool m_registered = false;
    bool m_toldNoTray = false;
};
