#include "Tovrick/shell/StatusNotifierTray.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QtEndian>

#include <atomic>

#include "shared/util/Log.h"

namespace {

const QString kNoTray = QStringLiteral(
    "the desktop has no status tray: the focus window (Ctrl+Alt+F) and the hot keys reach everything the "
    "status menu does");

// The panel reads "_" as the mark of a keyboard accelerator.
QString menuLabel(const QString& text)
{
    QString label = text;
    return label.replace(u'_', QStringLiteral("__"));
}

MenuLayoutItem pruned(const MenuLayoutItem& node, int depth, const QStringList& names)
{
    MenuLayoutItem copy;
    copy.id = node.id;
    if (names.isEmpty()) {
        copy.properties = node.properties;
    } else {
        for (const QString& name : names)
            if (node.properties.contains(name))
                copy.properties.insert(name, node.properties.value(name));
    }
    if (depth != 0)
        for (const MenuLayoutItem& child : node.children)
            copy.children << pruned(child, depth < 0 ? -1 : depth - 1, names);
    return copy;
}

const MenuLayoutItem* findNode(const MenuLayoutItem& node, int id)
{
    if (node.id == id)
        return &node;
    for (const MenuLayoutItem& child : node.children)
        if (const MenuLayoutItem* found = findNode(child, id))
            return found;
    return nullptr;
}

TrayPixmaps pixmapsOf(const QImage& icon)
{
    TrayPixmaps result;
    if (icon.isNull())
        return result;
    for (const int side : {16, 22, 24, 32, 48, 64}) {
        const QImage image = icon.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                                 .convertToFormat(QImage::Format_ARGB32);
        TrayPixmap pixmap;
        pixmap.width = image.width();
        pixmap.height = image.height();
        pixmap.pixels.resize(static_cast<qsizetype>(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(pixmap.pixels.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const quint32*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4)
                qToBigEndian(row[x], out);
        }
        result << pixmap;
    }
    return result;
}

} // namespace

TrayItemObject::TrayItemObject(StatusNotifierTray& tray) : m_tray(tray) {}

TrayPixmaps TrayItemObject::iconPixmap() const
{
    return m_tray.pixmaps();
}

TrayToolTip TrayItemObject::toolTip() const
{
    TrayToolTip tip;
    tip.title = QStringLiteral("Tovrick");
    return tip;
}

QDBusObjectPath TrayItemObject::menu() const
{
    return QDBusObjectPath(QString::fromLatin1(StatusNotifierTray::kMenuPath));
}

// A panel that activates the item instead of showing its menu opens the window the menu's first
// item opens; the others have nothing to do.
void TrayItemObject::Activate(int, int)
{
    StatusMenuItem window;
    window.action = ShellAction::showFocusWindow;
    m_tray.chooseLater(window);
}
void TrayItemObject::SecondaryActivate(int, int) {}
void TrayItemObject::ContextMenu(int, int) {}
void TrayItemObject::Scroll(int, const QString&) {}

TrayMenuObject::TrayMenuObject(StatusNotifierTray& tray) : m_tray(tray) {}

uint TrayMenuObject::GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                               MenuLayoutItem& layout)
{
    m_tray.ensureBuilt();
    const MenuLayoutItem* node = m_tray.node(parentId);
    layout = node ? pruned(*node, recursionDepth, propertyNames) : MenuLayoutItem {parentId, {}, {}};
    return m_tray.revision();
}

QList<MenuItemProperties> TrayMenuObject::GetGroupProperties(const QList<int>& ids, const QStringList& propertyNames)
{
    MenuItemPropertiesList result;
    for (const int id : ids)
        if (const MenuLayoutItem* node = m_tray.node(id))
            result << MenuItemProperties {id, pruned(*node, 0, propertyNames).properties};
    return result;
}

QDBusVariant TrayMenuObject::GetProperty(int id, const QString& name)
{
    const MenuLayoutItem* node = m_tray.node(id);
    return QDBusVariant(node ? node->properties.value(name) : QVariant(QString()));
}

void TrayMenuObject::Event(int id, const QString& eventId, const QDBusVariant&, uint)
{
    if (eventId == QLatin1String("clicked"))
        m_tray.chooseLater(id);
}

QList<int> TrayMenuObject::EventGroup(const QList<MenuEvent>& events)
{
    QList<int> errors;
    for (const MenuEvent& event : events) {
        if (!m_tray.node(event.id))
            errors << event.id;
        else
            Event(event.id, event.eventId, event.data, event.timestamp);
    }
    return errors;
}

bool TrayMenuObject::AboutToShow(int id)
{
    // The menu is rebuilt each time it opens; the submenus come with it.
    return id == 0 && m_tray.rebuild();
}

QList<int> TrayMenuObject::AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors)
{
    QList<int> updates;
    for (const int id : ids) {
        if (!m_tray.node(id))
            idErrors << id;
        else if (AboutToShow(id))
            updates << id;
    }
    return updates;
}

StatusNotifierTray::StatusNotifierTray(QDBusConnection bus, Ports ports, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_ports(std::move(ports)), m_item(*this), m_menu(*this)
{
    dbusMenuTypes::registerAll();
    static std::atomic<int> instances {0};
    m_serviceName = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                        .arg(QCoreApplication::applicationPid())
                        .arg(++instances);
    m_pixmaps = pixmapsOf(m_ports.icon);
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    connect(&m_refresh, &QTimer::timeout, this, [this] { rebuild(); });
}

StatusNotifierTray::~StatusNotifierTray()
{
    if (!m_published)
        return;
    m_bus.unregisterObject(QString::fromLatin1(kItemPath));
    m_bus.unregisterObject(QString::fromLatin1(kMenuPath));
    m_bus.unregisterService(m_serviceName);
}

bool StatusNotifierTray::start()
{
    if (!m_bus.isConnected()) {
        logline::info(kNoTray);
        return false;
    }
    const auto exports = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals
        | QDBusConnection::ExportAllProperties;
    m_published = m_bus.registerObject(QString::fromLatin1(kItemPath), &m_item, exports)
        && m_bus.registerObject(QString::fromLatin1(kMenuPath), &m_menu, exports)
        && m_bus.registerService(m_serviceName);
    if (!m_published) {
        logline::warning(QStringLiteral("the status item could not be published on the session bus"));
        return false;
    }
    // A panel that starts (or restarts) later picks the item up.
    m_watcher = new QDBusServiceWatcher(QString::fromLatin1(kWatcherService), m_bus,
                                        QDBusServiceWatcher::WatchForRegistration, this);
    connect(m_watcher, &QDBusServiceWatcher::serviceRegistered, this, [this] { registerWithWatcher(); });
    const QDBusConnectionInterface* bus = m_bus.interface();
    if (!bus || !bus->isServiceRegistered(QString::fromLatin1(kWatcherService))) {
        m_toldNoTray = true;
        logline::info(kNoTray);
        return false;
    }
    registerWithWatcher();
    return true;
}

void StatusNotifierTray::registerWithWatcher()
{
    QDBusMessage call = QDBusMessage::createMethodCall(QString::fromLatin1(kWatcherService),
                                                       QStringLiteral("/StatusNotifierWatcher"),
                                                       QString::fromLatin1(kWatcherService),
                                                       QStringLiteral("RegisterStatusNotifierItem"));
    call << m_serviceName;
    auto* pending = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* done) {
        done->deleteLater();
        const QDBusPendingReply<> reply = *done;
        if (reply.isError()) {
            logline::warning(QStringLiteral("the desktop's tray refused the status item: ") + reply.error().message());
            return;
        }
        if (m_toldNoTray)
            logline::info(QStringLiteral("a status tray appeared: the status item is in it"));
        m_registered = true;
        emit registeredChanged(true);
    });
}

void StatusNotifierTray::refresh()
{
    if (m_built)
        m_refresh.start();
}

MenuLayoutItem StatusNotifierTray::toLayout(const StatusMenuItem& item, int& nextId)
{
    MenuLayoutItem node;
    node.id = nextId++;
    switch (item.kind) {
    case StatusMenuItem::Kind::separator:
        node.properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
        break;
    case StatusMenuItem::Kind::note:
        node.properties.insert(QStringLiteral("label"), menuLabel(item.label));
        node.properties.insert(QStringLiteral("enabled"), false);
        break;
    case StatusMenuItem::Kind::toggle:
        node.properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
        node.properties.insert(QStringLiteral("toggle-state"), item.checked ? 1 : 0);
        [[fallthrough]];
    case StatusMenuItem::Kind::action:
        node.properties.insert(QStringLiteral("label"), menuLabel(item.label));
        break;
    case StatusMenuItem::Kind::submenu:
        node.properties.insert(QStringLiteral("label"), menuLabel(item.label));
        node.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        for (const StatusMenuItem& child : item.children)
            node.children << toLayout(child, nextId);
        break;
    }
    if (item.shortcut) {
        const MenuShortcut keys {{QStringLiteral("Control"), QStringLiteral("Alt"),
                                  QString(QChar::fromLatin1(item.shortcut->letter).toUpper())}};
        node.properties.insert(QStringLiteral("shortcut"), QVariant::fromValue(keys));
    }
    m_byId.insert(node.id, item);
    return node;
}

bool StatusNotifierTray::rebuild()
{
    QList<StatusMenuItem> items = m_ports.build ? m_ports.build() : QList<StatusMenuItem>();
    if (m_built && items == m_items)
        return false;
    m_built = true;
    m_items = std::move(items);
    m_byId.clear();
    m_layout = MenuLayoutItem {};
    m_layout.properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    int nextId = 1;
    for (const StatusMenuItem& item : m_items)
        m_layout.children << toLayout(item, nextId);
    ++m_revision;
    emit m_menu.LayoutUpdated(m_revision, 0);
    return true;
}

const MenuLayoutItem* StatusNotifierTray::node(int id) const
{
    return findNode(m_layout, id);
}

void StatusNotifierTray::chooseLater(int id)
{
    const auto found = m_byId.constFind(id);
    if (found == m_byId.constEnd() || found->kind == StatusMenuItem::Kind::note
        || found->kind == StatusMenuItem::Kind::separator || found->kind == StatusMenuItem::Kind::submenu)
        return;
    chooseLater(*found);
}

void StatusNotifierTray::chooseLater(const StatusMenuItem& item)
{
    QTimer::singleShot(0, this, [this, item] {
        if (m_ports.choose)
            m_ports.choose(item);
    });
}
