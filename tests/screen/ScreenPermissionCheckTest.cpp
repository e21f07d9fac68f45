#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenPermissionCheck.h"
#include "Tovrick/screen/ScreenReaderError.h"

#include "shared/util/Files.h"
#include "shared/util/Json.h"
#include "support/RunTask.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct Checked {
    int status = -1;
    QStringList lines;
    std::optional<Json> record;
};

Checked check(ScreenCaptureAccess& access, const QString& folder)
{
    Checked result;
    const std::function<void(const QString&)> print = [&result](const QString& line) { result.lines << line; };
    result.status = runTask(ScreenPermissionCheck::run(access, folder, print));
    if (const auto bytes = files::read(QDir(folder).filePath(ScreenPermissionCheck::kFileName)))
        result.record = json::parse(*bytes);
    return result;
}

TEST(ScreenPermissionCheck, RecordsWhetherTheDisplayCouldBeCaptured)
{
    QTemporaryDir folder;
    ScreenCaptureAccess access;
    auto granted = check(access, folder.path());
    EXPECT_EQ(granted.status, 0);
    EXPECT_EQ(granted.lines, QStringList { QStringLiteral("Screen access: granted") });
    ASSERT_TRUE(granted.record);
    EXPECT_EQ((*granted.record)["granted"], true);
    EXPECT_EQ((*granted.record)["preflight"], true);
    EXPECT_EQ((*granted.record)["message"], "");
    EXPECT_GT((*granted.record)["checkedAt"].get<double>(), 1.7e9);
    EXPECT_FALSE(QFile(QDir(folder.path()).filePath(ScreenPermissionCheck::kFileName))
                     .permissions()
                     .testAnyFlags(QFileDevice::ReadGroup | QFileDevice::ReadOther));

    // A declined capture replaces the earlier record.
    access.testCapture = []() -> QCoro::Task<void> {
        throw ScreenReaderError::declined();
        co_return;
    };
    auto declined = check(access, folder.path());
    EXPECT_EQ(declined.status, 1);
    EXPECT_EQ(declined.lines, QStringList { QStringLiteral("Screen access: not granted. ") + access.message() });
    ASSERT_TRUE(declined.record);
    EXPECT_EQ((*declined.record)["granted"], false);
    EXPECT_EQ((*declined.record)["message"], json::fromQString(access.message()));
}

TEST(ScreenPermissionCheck, AnUnwritableRecordFailsTheCheck)
{
    QTemporaryDir folder;
    ASSERT_TRUE(QDir(folder.path()).mkdir(ScreenPermissionCheck::kFileName));
    ScreenCaptureAccess access;
    access.testCapture = []() -> QCoro::Task<void> { co_return; };
    const auto checked = check(access, folder.path());
    EXPECT_EQ(checked.status, 1);
    ASSERT_EQ(checked.lines.size(), 2);
    EXPECT_EQ(checked.lines[0], QStringLiteral("Screen access: granted"));
    EXPECT_TRUE(checked.lines[1].startsWith(QStringLiteral("Screen access: couldn't save "))) << checked.lines[1].toStdString();
}

} // namespace
