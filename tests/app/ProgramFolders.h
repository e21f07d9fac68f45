#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include "shared/account/AccountSession.h"
#include "shared/account/DeviceVaults.h"
#include "shared/util/AppPaths.h"
#include "support/LoopbackApi.h"

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
