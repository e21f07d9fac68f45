#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include "app/ProgramFolders.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

struct Ran {
    bool ended = false;
    int code = -1;
    QString err;
};

Ran run(const QString& program, const QStringList& arguments, const QProcessEnvironment& environment)
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    Ran result;
    if (!process.waitForStarted(10000))
        return result;
    result.ended = waitUntil([&] { return process.state() == QProcess::NotRunning; }, 60s);
    if (!result.ended) {
        process.kill();
        process.waitForFinished(5000);
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

} // namespace

// The browser hands the sign-in's answer to the desktop's link opener, which starts the entry that
// scripts/install-desktop-entry wrote; that later start hands the link to the running program. Tried
// with each opener a desktop may use (xdg-open alone under a plain window manager, gio, the Xfce
// opener), for a program whose path needs no quoting and for one whose path would need it.
TEST(LinkOpeners, EveryOpenerHandsTheSignInLinkToTheRunningProgram)
{
    if (!qEnvironmentVariableIsSet("DISPLAY"))
        GTEST_SKIP() << "needs the display of scripts/with-test-services";
    ProgramFolders folders;
    ASSERT_NO_FATAL_FAILURE(folders.prepare());
    // A desktop session that names no desktop environment: xdg-open falls back to its own reading.
    QProcessEnvironment environment = folders.environment;
    for (const char* name : {"XDG_CURRENT_DESKTOP", "XDG_SESSION_DESKTOP", "DESKTOP_SESSION", "KDE_FULL_SESSION",
                             "GNOME_DESKTOP_SESSION_ID", "MATE_DESKTOP_SESSION_ID", "LXQT_SESSION_CONFIG", "BROWSER"})
        environment.remove(QString::fromLatin1(name));

    RunningProgram app;
    ASSERT_NO_FATAL_FAILURE(app.start(environment));
    QByteArray& log = app.log;
    ASSERT_TRUE(waitUntil([&] { return log.contains("Fennow: started"); }, 30s)) << log.toStdString();

    // The same program behind a path with blanks, quotes and a dollar in it.
    const QString awkward = folders.root.filePath(QStringLiteral("my \"builds\" $HOME"));
    ASSERT_TRUE(QDir().mkpath(awkward));
    const QString starter = QDir(awkward).filePath(QStringLiteral("tovrick"));
    {
        QFile script(starter);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\nexec '" TOVRICK_PROGRAM "' \"$@\"\n");
        ASSERT_TRUE(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));
    }

    QProcessEnvironment xfce = environment;
    xfce.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("XFCE"));
    QProcessEnvironment gnome = environment;
    gnome.insert(QStringLiteral("XDG_CURRENT_DESKTOP"), QStringLiteral("GNOME"));
    QProcessEnvironment generic = environment;
    generic.insert(QStringLiteral("XDG_UTILS_DEBUG_LEVEL"), QStringLiteral("2"));
    const struct {
        const char* name;
        const char* program;
        QStringList before; // arguments before the link
        const QProcessEnvironment* environment;
    } openers[] = {
        {"xdg-open, no desktop environment", "xdg-open", {}, &generic},
        {"gio", "gio", {QStringLiteral("open")}, &environment},
        {"xdg-open, GNOME", "xdg-open", {}, &gnome},
        {"exo-open", "exo-open", {}, &environment},
        {"xdg-open, Xfce", "xdg-open", {}, &xfce},
    };
    const QString link = QStringLiteral("tovrick://auth/google?state=s&code=c");
    const char* heard = "a later start handed over a sign-in link";
    for (const QString& program : {QStringLiteral(TOVRICK_PROGRAM), starter}) {
        SCOPED_TRACE(program.toStdString());
        const Ran install = run(QStringLiteral("bash"),
                                {QStringLiteral(TOVRICK_SOURCE_DIR "/scripts/install-desktop-entry"), program},
                                environment);
        ASSERT_TRUE(install.ended);
        ASSERT_EQ(install.code, 0) << install.err.toStdString();
        for (const auto& opener : openers) {
            SCOPED_TRACE(opener.name);
            const QString found = QStandardPaths::findExecutable(QString::fromLatin1(opener.program));
            ASSERT_FALSE(found.isEmpty()) << opener.program << " is missing: scripts/install-deps installs it";
            const qsizetype before = log.count(heard);
            const Ran opened = run(found, opener.before + QStringList {link}, *opener.environment);
            ASSERT_TRUE(opened.ended);
            EXPECT_EQ(opened.code, 0) << opened.err.toStdString();
            if (opener.environment == &generic) {
                EXPECT_TRUE(opened.err.contains(QStringLiteral("Selected DE generic"))) << opened.err.toStdString();
            }
            EXPECT_TRUE(waitUntil([&] { return log.count(heard) == before + 1; }, 30s)) << log.toStdString();
        }
    }
    EXPECT_EQ(app.process.state(), QProcess::Running);
    EXPECT_FALSE(log.contains("code=c")) << "the sign-in code is never logged";
}
