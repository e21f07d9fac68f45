#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
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
// browser's "tovrick:" links: two valid entries that start the built program wherever it lies (a
// folder with a space and quotes in its name included), and the icon.
TEST(DesktopEntry, TheApplicationListAndTheLinkHandlerStartTheBuiltProgram)
{
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("my \"builds\" $HOME"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = QDir(folder).filePath(QStringLiteral("tovrick"));
    QFile(program).open(QIODevice::WriteOnly);
    const QString data = root.filePath(QStringLiteral("data"));

    QProcess install;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    install.setProcessEnvironment(environment);
    install.start(QStringLiteral("bash"), {scriptPath(), program});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitCode(), 0) << install.readAllStandardError().toStdString();

    const QString quoted
        = QStringLiteral("Exec=\"") + root.path() + QStringLiteral("/my \\\"builds\\\" \\$HOME/tovrick\"");
    const struct {
        const char* entry;
        QString exec;
        const char* shown; // a line that decides whether it is listed
    } cases[] = {
        {"tovrick.desktop", quoted, "Icon=tovrick"},
        {"tovrick-url-handler.desktop", quoted + QStringLiteral(" %u"), "MimeType=x-scheme-handler/tovrick;"},
    };
    const QString validator = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.entry);
        const QString path = QDir(data).filePath(QStringLiteral("applications/") + QString::fromLatin1(c.entry));
        const auto text = files::read(path);
        ASSERT_TRUE(text);
        const QStringList lines = QString::fromUtf8(*text).split(QLatin1Char('\n'));
        EXPECT_TRUE(lines.contains(c.exec)) << text->toStdString();
        EXPECT_TRUE(lines.contains(QString::fromLatin1(c.shown))) << text->toStdString();
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
