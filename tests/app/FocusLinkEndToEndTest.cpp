#include <gtest/gtest.h>

#include <QProcess>
#include <QSettings>

#include "ProgramFolders.h"
#include "support/RunTask.h"

// The program as a user runs it: `tovrick` signed in against the loopback product API on the test
// display, and its own command-line link checks playing the phone against it over service discovery.
TEST(FocusLinkEndToEnd, LinkChecksPassAgainstTheRunningProgram)
{
    REQUIRE_END_TO_END_SERVICES();

    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    LoopbackApi& api = folders.api;
    // Developer mode on, so the nudge check may run.
    const QString settingsFile = folders.settingsFile();
    {
        QSettings settings(settingsFile, QSettings::IniFormat);
        settings.setValue(QStringLiteral("focusDeveloperMode"), true);
    }
    const QProcessEnvironment environment = folders.environment;

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
