#include <gtest/gtest.h>

#include <QDir>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include "shared/account/AccountSession.h"
#include "shared/account/DeviceVaults.h"
#include "shared/util/AppPaths.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

// The program as a user runs it: `tovrick` signed in against the loopback product API on the test
// display, and its own command-line link checks playing the phone against it over service discovery.
TEST(FocusLinkEndToEnd, LinkChecksPassAgainstTheRunningProgram)
{
    if (qEnvironmentVariableIsSet("TOVRICK_TEST_NETNS_ERROR"))
        FAIL() << qPrintable(qEnvironmentVariable("TOVRICK_TEST_NETNS_ERROR"));
    if (!qEnvironmentVariableIsSet("TOVRICK_TEST_NETNS") || !qEnvironmentVariableIsSet("DISPLAY"))
        GTEST_SKIP() << "needs the display and discovery namespace of scripts/with-test-services";

    QTemporaryDir root;
    LoopbackApi api;
    ASSERT_TRUE(api.isListening());
    const QString certificate = root.filePath(QStringLiteral("api.pem"));
    ASSERT_TRUE(api.writeCertificate(certificate));

    // The program's own folders, signed in, with developer mode on so the nudge check may run.
    const QString data = root.filePath(QStringLiteral("data"));
    const QString config = root.filePath(QStringLiteral("config"));
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(QDir(data).filePath(QStringLiteral("Tovrick"))));
    AccountSession session;
    session.userId = QStringLiteral("user-1");
    session.deviceId = QStringLiteral("device-1");
    session.deviceToken = QStringLiteral("tvk_end-to-end");
    session.displayName = QStringLiteral("End To End");
    session.expiresAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 3600.0 * 1000;
    session.authMethod = QStringLiteral("google");
    FileDeviceVault vault(QDir(data).filePath(QStringLiteral("Tovrick/device-vault.json")));
    ASSERT_TRUE(vault.write(QStringLiteral("session"), json::dumpBytes(session.toJson())));
    const QString settingsFile = QDir(config).filePath(QStringLiteral("Tovrick/Tovrick.ini"));
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("focusDeveloperMode"), true);
    }

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
    environment.insert(QStringLiteral("TOVRICK_API_URL"), api.url().toString());
    environment.insert(QStringLiteral("TOVRICK_API_CERTIFICATE"), certificate);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // No session bus: the vault is the file above, for the program and its checks alike.
    environment.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
    const QString runtime = root.filePath(QStringLiteral("runtime"));
    ASSERT_TRUE(AppPaths::ensurePrivateFolder(runtime));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime);

    QProcess app;
    app.setProcessEnvironment(environment);
    app.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    app.start(QStringLiteral(TOVRICK_PROGRAM), {});
    ASSERT_TRUE(app.waitForStarted(10000));

    const struct {
        const char* flag;
        const char* outcome;
    } checks[] = {
        { "--focus-link-test", "LIVE app integration: pause/resume/end synchronized; history contains the live check" },
        { "--focus-nudge-test", "LIVE app integration: test nudge dispatched through the real Mac bubble and phone chirp path" },
        { "--focus-developer-test", "LIVE app integration: 4x clock and ten-second checks verified; original setting restored" },
    };
    for (const auto& check : checks) {
        QProcess probe;
        probe.setProcessEnvironment(environment);
        probe.start(QStringLiteral(TOVRICK_PROGRAM), { QString::fromLatin1(check.flag) });
        ASSERT_TRUE(probe.waitForStarted(10000));
        ASSERT_TRUE(waitUntil([&] { return probe.state() == QProcess::NotRunning; }, std::chrono::seconds(95)))
            << check.flag;
        const QString lines = QString::fromUtf8(probe.readAllStandardOutput());
        EXPECT_EQ(probe.exitStatus(), QProcess::NormalExit) << check.flag;
        EXPECT_EQ(probe.exitCode(), 0) << check.flag << "\n" << lines.toStdString();
        EXPECT_TRUE(lines.contains(QString::fromLatin1(check.outcome))) << lines.toStdString();
        EXPECT_TRUE(lines.contains(QStringLiteral("LIVE app transport: authenticated"))) << lines.toStdString();
    }
    EXPECT_GE(api.requestCount(QStringLiteral("ai/decisions")), 2); // the checks were judged by the API

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(15000));
    QSettings after(settingsFile, QSettings::IniFormat);
    EXPECT_EQ(after.value(QStringLiteral("focusDeveloperMode")).toString(), QStringLiteral("true"));
}
