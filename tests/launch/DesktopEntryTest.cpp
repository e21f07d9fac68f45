#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "shared/util/Files.h"

namespace {

QString scriptPath()
{
    return QStringLiteral(TOVRICK_SOURCE_DIR "/scripts/install-desktop-entry");
}

} // namespace

// What scripts/run installs so that the program appears in the application list and opens the
// browser's "tovrick:" links: two valid entries that start the built program wherever it lies, and
// the icon. The Exec line stays unquoted wherever it can (a quoted one is lost on xdg-open without a
// desktop environment): a program whose path would need quotes is reached through a link in
// ~/.local/bin, and only when even that path needs them is the line quoted.
TEST(DesktopEntry, TheApplicationListAndTheLinkHandlerStartTheBuiltProgram)
{
    const struct {
        const char* name;
        const char* folder; // where the program lies, below the test's root
        const char* home;   // the user's home, below the test's root
        bool ownProgram;    // ~/.local/bin/tovrick is a program of the user's own already
        const char* exec;   // the Exec line's program; {root} and {home} stand for the folders
        bool linked;        // ~/.local/bin/tovrick leads to the program
        bool warned;
    } cases[] = {
        {"plain", "builds/release", "home", false, "{root}/builds/release/tovrick", false, false},
        {"quotes, blanks and a dollar", "my \"builds\" $HOME", "home", false, "{home}/.local/bin/tovrick", true,
         false},
        {"a home with a blank", "my builds", "the home", false,
         "\"{root}/my builds/tovrick\"", false, true},
        {"the user's own tovrick in the way", "my builds", "home", true, "\"{root}/my builds/tovrick\"", false,
         true},
        {"escapes in the quotes", "a\\b \"c\" `d` $e 100%", "the home", false,
         "\"{root}/a\\\\\\\\b \\\\\"c\\\\\" \\\\`d\\\\` \\\\$e 100%%/tovrick\"", false, true},
    };
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        const QString folder = root.filePath(QString::fromUtf8(c.folder));
        const QString home = root.filePath(QString::fromUtf8(c.home));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString program = QDir(folder).filePath(QStringLiteral("tovrick"));
        QFile(program).open(QIODevice::WriteOnly);
        const QString link = QDir(home).filePath(QStringLiteral(".local/bin/tovrick"));
        if (c.ownProgram) {
            ASSERT_TRUE(QDir().mkpath(QFileInfo(link).path()));
            QFile own(link);
            ASSERT_TRUE(own.open(QIODevice::WriteOnly));
            own.write("#!/bin/sh\n");
        }
        const QString data = root.filePath(QStringLiteral("data"));

        QProcess install;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("HOME"), home);
        install.setProcessEnvironment(environment);
        install.start(QStringLiteral("bash"), {scriptPath(), program});
        ASSERT_TRUE(install.waitForFinished(60000));
        const QString err = QString::fromUtf8(install.readAllStandardError());
        ASSERT_EQ(install.exitCode(), 0) << err.toStdString();
        EXPECT_EQ(err.contains(QStringLiteral("needs quoting")), c.warned) << err.toStdString();

        const QString exec = QString::fromUtf8(c.exec)
                                 .replace(QStringLiteral("{root}"), root.path())
                                 .replace(QStringLiteral("{home}"), home);
        if (c.ownProgram) {
            EXPECT_EQ(files::read(link), QByteArray("#!/bin/sh\n")) << "the user's own program stays";
        } else {
            EXPECT_EQ(QFileInfo(link).isSymLink(), c.linked);
            EXPECT_EQ(QFileInfo(link).symLinkTarget(), c.linked ? program : QString());
        }

        const struct {
            const char* entry;
            QString exec;
            const char* shown; // a line that decides whether it is listed
        } entries[] = {
            {"tovrick.desktop", QStringLiteral("Exec=") + exec, "Icon=tovrick"},
            {"tovrick-url-handler.desktop", QStringLiteral("Exec=") + exec + QStringLiteral(" %u"),
             "MimeType=x-scheme-handler/tovrick;"},
        };
        for (const auto& e : entries) {
            SCOPED_TRACE(e.entry);
            const QString path
                = QDir(data).filePath(QStringLiteral("applications/") + QString::fromLatin1(e.entry));
            const auto text = files::read(path);
            ASSERT_TRUE(text);
            const QStringList lines = QString::fromUtf8(*text).split(QLatin1Char('\n'));
            EXPECT_TRUE(lines.contains(e.exec)) << text->toStdString();
            EXPECT_TRUE(lines.contains(QString::fromLatin1(e.shown))) << text->toStdString();
            if (!validator.isEmpty()) {
                QProcess validate;
                validate.start(validator, {path});
                ASSERT_TRUE(validate.waitForFinished(30000));
                EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
            }
        }
        EXPECT_EQ(files::read(QDir(data).filePath(QStringLiteral("icons/hicolor/256x256/apps/tovrick.png"))),
                  files::read(QStringLiteral(TOVRICK_SOURCE_DIR "/Tovrick/resources/tovrick.png")));
    }
}
