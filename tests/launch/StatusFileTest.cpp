#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include "Tovrick/shell/StatusFile.h"
#include "shared/util/Files.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

QStringList& warnings()
{
    static QStringList lines;
    return lines;
}

void keepWarnings(QtMsgType type, const QMessageLogContext&, const QString& message)
{
    if (type == QtWarningMsg)
        warnings().append(message);
}

} // namespace

// Something in the file's way (a folder where it should be) is one warning, not one every 3 s and
// never a crash; the next write after it is gone works again.
TEST(StatusFile, AFileThatCannotBeWrittenIsOneWarningAndTheNextWriteRecovers)
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("Fennow/status.txt"));
    ASSERT_TRUE(QDir().mkpath(path + QStringLiteral("/in-the-way")));
    StatusFile file(path);
    int probes = 0;
    file.probe = [&probes] {
        ++probes;
        return StatusFile::Permissions {true, probes % 2 == 0};
    };

    warnings().clear();
    const QtMessageHandler previous = qInstallMessageHandler(keepWarnings);
    file.start(20);
    waitUntil([&] { return probes >= 4; }, 5s);
    qInstallMessageHandler(previous);
    EXPECT_GE(probes, 4);
    EXPECT_EQ(warnings().size(), 1) << warnings().join(QLatin1Char('\n')).toStdString();

    ASSERT_TRUE(QDir(path).removeRecursively());
    ASSERT_TRUE(waitUntil([&] { return files::read(path).has_value(); }, 5s));
    const QByteArray text = *files::read(path);
    EXPECT_TRUE(text.startsWith("screen=granted\naccessibility=")) << text.toStdString();
    EXPECT_TRUE(text.contains("\nupdated=20")) << text.toStdString();
    EXPECT_TRUE(text.endsWith("Z\n")) << text.toStdString();
    file.stop();
}
