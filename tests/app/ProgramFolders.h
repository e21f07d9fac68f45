#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QHostAddress>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

#include "shared/account/AccountSession.h"
#include "shared/account/DeviceVaults.h"
#include "shared/focus/FocusSession.h"
#include "shared/focus/FocusSync.h"
#include "shared/link/LineConnection.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Json.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

// The end-to-end runs need the display and discovery namespace of scripts/with-test-services: a
// namespace that could not be made fails the test, a plain run without the services skips it.
#define REQUIRE_END_TO_END_SERVICES()                                                                  \
    do {                                                                                               \
        if (qEnvironmentVariableIsSet("TOVRICK_TEST_NETNS_ERROR"))                                     \
            FAIL() << qPrintable(qEnvironmentVariable("TOVRICK_TEST_NETNS_ERROR"));                    \
        if (!qEnvironmentVariableIsSet("TOVRICK_TEST_NETNS") || !qEnvironmentVariableIsSet("DISPLAY")) \
            GTEST_SKIP() << "needs the display and discovery namespace of scripts/with-test-services"; \
    } while (false)

// One memory vault for every test of the process: the shared account keeps the vault it was made
// with, so a vault replaced per test would leave it pointing at a freed one.
inline void useOneMemoryVault()
{
    static const bool replaced = [] {
        DeviceVault::replaceShared(std::make_unique<MemoryDeviceVault>());
        return true;
    }();
    (void)replaced;
}

// What `tovrick` needs to run as a user runs it, in folders of its own: a home, XDG data and config
// folders, a session for "user-1" in its file vault, the loopback product API and no session bus
// (so the vault is that file, for the program and its checks alike).
struct ProgramFolders {
    QTemporaryDir root;
    LoopbackApi api;
    QString data = root.filePath(QStringLiteral("data"));
    QString config = root.filePath(QStringLiteral("config"));
    QString home = root.filePath(QStringLiteral("home"));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();

    // Call through ASSERT_NO_FATAL_FAILURE.
    void prepare()
    {
        ASSERT_TRUE(api.isListening());
        const QString certificate = root.filePath(QStringLiteral("api.pem"));
        ASSERT_TRUE(api.writeCertificate(certificate));
        ASSERT_TRUE(AppPaths::ensurePrivateFolder(appFolder()));
        AccountSession session;
        session.userId = QStringLiteral("user-1");
        session.deviceId = QStringLiteral("device-1");
        session.deviceToken = QStringLiteral("tvk_end-to-end");
        session.displayName = QStringLiteral("End To End");
        session.expiresAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 3600.0 * 1000;
        session.authMethod = QStringLiteral("google");
        ASSERT_TRUE(vault().write(QStringLiteral("session"), json::dumpBytes(session.toJson())));

        environment.insert(QStringLiteral("HOME"), home);
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
        environment.insert(QStringLiteral("TOVRICK_API_URL"), api.url().toString());
        environment.insert(QStringLiteral("TOVRICK_API_CERTIFICATE"), certificate);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
        const QString runtime = root.filePath(QStringLiteral("runtime"));
        ASSERT_TRUE(AppPaths::ensurePrivateFolder(runtime));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);
        // Graphics drivers that the program loads and unloads leave allocations the leak checker
        // cannot name at its exit; every other sanitizer check stays on.
        const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer + (sanitizer.isEmpty() ? "" : ":") + QStringLiteral("detect_leaks=0"));
    }

    QString appFolder() const { return QDir(data).filePath(QStringLiteral("Tovrick")); }
    QString settingsFile() const { return QDir(config).filePath(QStringLiteral("Tovrick/Tovrick.ini")); }
    FileDeviceVault vault() const { return FileDeviceVault(QDir(appFolder()).filePath(QStringLiteral("device-vault.json"))); }
};

// A phone paired with the program that runs in `folders`, as the phone app reaches it: the port of
// the listener that the program's log names, the key from the program's vault. Keeps the latest
// focus state the program sent.
struct ProgramPhone {
    std::optional<FocusSync> state;
    int unreadable = 0;
    // Called after each focus state that could be read.
    std::function<void()> onState;

    // Empty once the link is up, else what kept it down.
    QString connect(const ProgramFolders& folders, const QByteArray& log, std::chrono::milliseconds wait)
    {
        const QRegularExpression listening(QStringLiteral("phone listener on port (\\d+)"));
        QRegularExpressionMatch port;
        if (!waitUntil([&] { return (port = listening.match(QString::fromUtf8(log))).hasMatch(); }, wait))
            return QStringLiteral("the phone listener did not start");
        const auto key = folders.vault().read(QStringLiteral("mac-transport")).found();
        if (!key)
            return QStringLiteral("no pairing key in the program's vault");
        auto* socket = new QTcpSocket();
        socket->connectToHost(QHostAddress::LocalHost, port.captured(1).toUShort());
        link = std::make_unique<LineConnection>(socket, *key, false);
        bool authenticated = false;
        link->onAuthenticated = [&authenticated] { authenticated = true; };
        link->onPacket = [this](const Packet& packet) {
            if (packet.command != QStringLiteral("focusState") || !packet.text)
                return;
            try {
                state = FocusSync::decode(packet.text->toUtf8());
            } catch (const std::exception&) {
                ++unreadable;
                return;
            }
            if (onState)
                onState();
        };
        link->start();
        const bool up = waitUntil([&] { return authenticated; }, wait);
        link->onAuthenticated = nullptr;
        return up ? QString() : QStringLiteral("the phone link did not authenticate");
    }

    void send(const QString& command, const Json& arguments = nullptr)
    {
        Packet packet;
        packet.command = command;
        if (!arguments.is_null())
            packet.text = json::toQString(json::dump(arguments));
        link->send(packet);
    }

    // Empty once a session runs, else what kept it from starting. The account's first refresh
    // re-announces the account, which closes any session: the start waits for it.
    QString startSession(const ProgramFolders& folders, const QString& task, int minutes, std::chrono::milliseconds wait)
    {
        if (!waitUntil([&] { return folders.api.requestCount(QStringLiteral("account")) > 0; }, wait))
            return QStringLiteral("the program did not refresh its account");
        waitUntil([] { return false; }, std::chrono::seconds(1));
        send(QStringLiteral("focusSync"));
        const Json start {{"task", task.toStdString()}, {"minutes", minutes}};
        send(QStringLiteral("focusStart"), start);
        return waitUntil([this] { return running(); }, wait) ? QString() : QStringLiteral("the session did not start");
    }

    bool running() const { return state && state->current && state->current->status == FocusSession::Status::running; }

    std::unique_ptr<LineConnection> link;
};

#ifdef TOVRICK_PROGRAM
// The program started as a user starts it, with what it writes to standard error collected in `log`;
// killed if it still runs when this goes.
struct RunningProgram {
    QProcess process;
    QByteArray log;

    // Call through ASSERT_NO_FATAL_FAILURE.
    void start(const QProcessEnvironment& environment)
    {
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        QObject::connect(&process, &QProcess::readyReadStandardError, [this] { log += process.readAllStandardError(); });
        process.start(QStringLiteral(TOVRICK_PROGRAM), {});
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    ~RunningProgram()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(5000);
        }
    }
};
#endif
