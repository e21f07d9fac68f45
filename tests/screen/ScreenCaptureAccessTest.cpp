#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"

#include "support/RunTask.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QCoroTimer>
#include <gtest/gtest.h>

namespace {

TEST(ScreenCaptureAccess, ACaptureConfirmsAccessAndAFailedOneExplainsUntilTheNextSuccess)
{
    ScreenCaptureAccess access;
    EXPECT_TRUE(access.preflight());
    const auto realCapture = access.testCapture;
    QSignalSpy checking(&access, &ScreenCaptureAccess::checkingChanged);
    EXPECT_TRUE(runTask(access.check()));
    EXPECT_TRUE(access.confirmedByCapture());
    EXPECT_EQ(checking.count(), 2); // on, then off

    // A failed check explains; a second check while one runs is refused at once and changes nothing.
    access.testCapture = []() -> QCoro::Task<void> {
        co_await QCoro::sleepFor(std::chrono::milliseconds(200));
        throw ScreenReaderError::declined();
    };
    auto first = access.check();
    EXPECT_TRUE(access.checking());
    EXPECT_FALSE(runTask(access.check()));
    EXPECT_TRUE(access.message().isEmpty());
    EXPECT_FALSE(runTask(std::move(first)));
    EXPECT_FALSE(access.checking());
    EXPECT_TRUE(access.needsSettings());
    EXPECT_FALSE(access.message().isEmpty());

    access.testCapture = realCapture;
    EXPECT_TRUE(runTask(access.check()));
    EXPECT_FALSE(access.needsSettings());
    EXPECT_TRUE(access.message().isEmpty());
}

TEST(ScreenCaptureAccess, RelaunchStartsTheProgramAgainAfterASecondAndQuitsOrAsksTheUser)
{
    QTemporaryDir folder;
    const QString marker = folder.filePath(QStringLiteral("started"));
    ScreenCaptureAccess access;
    int quits = 0;
    access.quit = [&] { ++quits; };
    // The "program" records the arguments it was started with; a space and a quote must survive.
    access.relaunchProgram = QStringLiteral("/bin/sh");
    access.relaunchArguments = {QStringLiteral("-c"), QStringLiteral("printf '%s|' \"$@\" > \"$0\""), marker,
                                QStringLiteral("--pair"), QStringLiteral("it's here")};
    QElapsedTimer clock;
    clock.start();
    access.relaunch();
    EXPECT_EQ(quits, 1);
    ASSERT_TRUE(waitUntil([&] { return QFile(marker).size() > 0; }, std::chrono::seconds(5)));
    EXPECT_GE(clock.elapsed(), 900);
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("--pair|it's here|"));

    // A relaunch that cannot start stays and asks the user instead.
    access.relaunchShell = QStringLiteral("/nonexistent/sh");
    access.relaunch();
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(access.message(), QStringLiteral("Please quit Tovrick and open it again from your desktop's application menu."));
}

} // namespace
