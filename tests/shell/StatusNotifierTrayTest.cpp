#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtEndian>

#include "Tovrick/shell/StatusNotifierTray.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

// The panel's side of the tray protocol: the watcher items register with.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")

public:
    QStringList registered;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { registered << service; }
};

namespace {

QStringList* gLines = nullptr;
void captureLine(QtMsgType, const QMessageLogContext&, const QString& message)
{
    if (gLines)
        *gLines << message;
}

// A session bus of the test's own, so no other test's tray or panel is seen.
class TrayOnPrivateBus : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(folder.isValid());
        const QString socket = folder.filePath(QStringLiteral("bus"));
        address = QStringLiteral("unix:path=") + socket;
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--address=") + address});
        ASSERT_TRUE(daemon.waitForStarted(5000)) << "dbus-daemon is needed";
        ASSERT_TRUE(waitUntil([&] { return QFileInfo::exists(socket); }, 5s));
        static int connections = 0;
        program = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("tray-program-%1").arg(++connections)));
        panel = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address, QStringLiteral("tray-panel-%1").arg(connections)));
        ASSERT_TRUE(program->isConnected());
        ASSERT_TRUE(panel->isConnected());
        previous = qInstallMessageHandler(captureLine);
        gLines = &lines;
    }
    void TearDown() override
    {
        qInstallMessageHandler(previous);
        gLines = nullptr;
        tray.reset();
        QDBusConnection::disconnectFromBus(program->name());
        QDBusConnection::disconnectFromBus(panel->name());
        daemon.terminate();
        daemon.waitForFinished(3000);
    }

    void showWatcher()
    {
        ASSERT_TRUE(panel->registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                                          QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(panel->registerService(QStringLiteral("org.kde.StatusNotifierWatcher")));
    }

    void makeTray()
    {
        StatusNotifierTray::Ports ports;
        ports.build = [this] { return statusMenu::items(state); };
        ports.choose = [this](const StatusMenuItem& item) { chosen << item.action; };
        QImage icon(32, 32, QImage::Format_ARGB32);
        icon.fill(QColor(255, 0, 0, 255));
        ports.icon = icon;
        tray = std::make_unique<StatusNotifierTray>(*program, std::move(ports));
    }

    // Calls the program as the panel would, without blocking the loop that answers.
    QDBusMessage call(const QString& path, const QString& interface, const QString& method, const QVariantList& args)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(tray->serviceName(), path, interface, method);
        message.setArguments(args);
        QDBusPendingCall pending = panel->asyncCall(message, 5000);
        waitUntil([&] { return pending.isFinished(); }, 6s);
        return pending.reply();
    }
    QDBusMessage menuCall(const QString& method, const QVariantList& args)
    {
        return call(QStringLiteral("/MenuBar"), QStringLiteral("com.canonical.dbusmenu"), method, args);
    }
    QVariant itemProperty(const QString& name)
    {
        const QDBusMessage reply = call(QStringLiteral("/StatusNotifierItem"), QStringLiteral("org.freedesktop.DBus.Properties"),
                                        QStringLiteral("Get"), {QStringLiteral("org.kde.StatusNotifierItem"), name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    std::pair<uint, MenuLayoutItem> layout()
    {
        const QDBusMessage reply = menuCall(QStringLiteral("GetLayout"), {0, -1, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        MenuLayoutItem root;
        reply.arguments().value(1).value<QDBusArgument>() >> root;
        return {reply.arguments().value(0).toUInt(), root};
    }
    static const MenuLayoutItem* byLabel(const MenuLayoutItem& node, const QString& label)
    {
        if (node.properties.value(QStringLiteral("label")).toString() == label)
            return &node;
        for (const MenuLayoutItem& child : node.children)
            if (const MenuLayoutItem* found = byLabel(child, label))
                return found;
        return nullptr;
    }

    QTemporaryDir folder;
    QProcess daemon;
    QString address;
    std::unique_ptr<QDBusConnection> program;
    std::unique_ptr<QDBusConnection> panel;
    FakeWatcher watcher;
    QStringList lines;
    QtMessageHandler previous = nullptr;
    StatusMenuState state;
    QList<ShellAction> chosen;
    std::unique_ptr<StatusNotifierTray> tray;
};

} // namespace

TEST_F(TrayOnPrivateBus, WithoutATrayItLogsOneLineAndJoinsOneThatAppearsLater)
{
    makeTray();
    EXPECT_FALSE(tray->start());
    EXPECT_EQ(lines.filter(QStringLiteral("no status tray")).size(), 1) << lines.join(u'\n').toStdString();
    EXPECT_FALSE(tray->isRegistered());

    showWatcher();
    ASSERT_TRUE(waitUntil([&] { return tray->isRegistered(); }));
    EXPECT_EQ(watcher.registered, QStringList {tray->serviceName()});
    EXPECT_EQ(lines.filter(QStringLiteral("no status tray")).size(), 1);
}

TEST_F(TrayOnPrivateBus, TheItemNamesItsMenuAndCarriesTheIconInNetworkOrder)
{
    showWatcher();
    makeTray();
    ASSERT_TRUE(tray->start());
    ASSERT_TRUE(waitUntil([&] { return tray->isRegistered(); }));

    EXPECT_EQ(itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path(), QStringLiteral("/MenuBar"));
    EXPECT_TRUE(itemProperty(QStringLiteral("ItemIsMenu")).toBool());
    EXPECT_EQ(itemProperty(QStringLiteral("Status")).toString(), QStringLiteral("Active"));
    TrayPixmaps pixmaps;
    itemProperty(QStringLiteral("IconPixmap")).value<QDBusArgument>() >> pixmaps;
    ASSERT_FALSE(pixmaps.isEmpty());
    const TrayPixmap& largest = pixmaps.last();
    EXPECT_EQ(largest.width, 64);
    ASSERT_EQ(largest.pixels.size(), 64 * 64 * 4);
    // Opaque red: alpha first, then red, whatever the machine's byte order.
    EXPECT_EQ(qFromBigEndian<quint32>(largest.pixels.constData()), 0xffff0000u);
}

TEST_F(TrayOnPrivateBus, TheMenuIsRebuiltWhenItOpensAndAClickChoosesTheItem)
{
    showWatcher();
    makeTray();
    ASSERT_TRUE(tray->start());

    ASSERT_TRUE(menuCall(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool()) << "first build";
    auto [revision, root] = layout();
    ASSERT_TRUE(byLabel(root, QStringLiteral("No focus session")));
    const MenuLayoutItem* stop = byLabel(root, QStringLiteral("Stop"));
    ASSERT_TRUE(stop);
    MenuShortcut keys;
    stop->properties.value(QStringLiteral("shortcut")).value<QDBusArgument>() >> keys;
    EXPECT_EQ(keys, (MenuShortcut {{QStringLiteral("Control"), QStringLiteral("Alt"), QStringLiteral("S")}}));
    EXPECT_EQ(byLabel(root, QStringLiteral("Awake"))->properties.value(QStringLiteral("toggle-state")).toInt(), 1);

    // Nothing changed: the panel keeps what it has.
    EXPECT_FALSE(menuCall(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool());
    EXPECT_EQ(layout().first, revision);

    // The state moved on: the next opening shows it.
    state.session = StatusMenuState::Session {true, QStringLiteral("snake_case"), 300};
    state.characterAwake = false;
    EXPECT_TRUE(menuCall(QStringLiteral("AboutToShow"), {0}).arguments().value(0).toBool());
    std::tie(revision, root) = layout();
    EXPECT_TRUE(byLabel(root, QStringLiteral("Focusing on snake__case · 5 min left"))) << "underscores are no accelerators";
    EXPECT_EQ(byLabel(root, QStringLiteral("Awake"))->properties.value(QStringLiteral("toggle-state")).toInt(), 0);
    const MenuLayoutItem* pause = byLabel(root, QStringLiteral("Pause Focus Session"));
    const MenuLayoutItem* note = byLabel(root, QStringLiteral("Focusing on snake__case · 5 min left"));
    const MenuLayoutItem* quit = byLabel(root, QStringLiteral("Quit Tovrick"));
    ASSERT_TRUE(pause && note && quit);
    EXPECT_FALSE(note->properties.value(QStringLiteral("enabled"), true).toBool());

    menuCall(QStringLiteral("Event"), {pause->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    menuCall(QStringLiteral("Event"), {note->id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    menuCall(QStringLiteral("Event"), {quit->id, QStringLiteral("hovered"), QVariant::fromValue(QDBusVariant(0)), 0u});
    ASSERT_TRUE(waitUntil([&] { return !chosen.isEmpty(); }));
    waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(chosen, QList<ShellAction> {ShellAction::pauseOrResume}) << "a note or a hover chooses nothing";

    // A group of events: an unknown id is reported back, the known one still runs.
    MenuEventList events {MenuEvent {quit->id, QStringLiteral("clicked"), QDBusVariant(0), 0},
                          MenuEvent {9999, QStringLiteral("clicked"), QDBusVariant(0), 0}};
    const QDBusMessage reply = menuCall(QStringLiteral("EventGroup"), {QVariant::fromValue(events)});
    ASSERT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
    QList<int> errors;
    reply.arguments().value(0).value<QDBusArgument>() >> errors;
    EXPECT_EQ(errors, QList<int> {9999});
    ASSERT_TRUE(waitUntil([&] { return chosen.size() == 2; }));
    EXPECT_EQ(chosen.last(), ShellAction::quit);

    // Panels that fetch items by id get the asked properties only.
    const QDBusMessage group = menuCall(QStringLiteral("GetGroupProperties"),
                                        {QVariant::fromValue(QList<int> {quit->id, 9999}), QStringList {"label"}});
    ASSERT_EQ(group.type(), QDBusMessage::ReplyMessage) << group.errorMessage().toStdString();
    QList<MenuItemProperties> properties;
    group.arguments().value(0).value<QDBusArgument>() >> properties;
    ASSERT_EQ(properties.size(), 1);
    EXPECT_EQ(properties[0].properties, (QVariantMap {{"label", QStringLiteral("Quit Tovrick")}}));
}

TEST_F(TrayOnPrivateBus, AStateChangeTellsThePanelOnlyWhenTheMenuDiffers)
{
    showWatcher();
    makeTray();
    ASSERT_TRUE(tray->start());
    layout();
    const uint before = tray->revision();
    tray->refresh();
    waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(tray->revision(), before) << "same menu, no news";
    state.computerControl = false;
    tray->refresh();
    EXPECT_TRUE(waitUntil([&] { return tray->revision() == before + 1; }));
}

#include "StatusNotifierTrayTest.moc"
