#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"

#include "support/RunTask.h"

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QCoroTimer>
#include <gtest/gtest.h>

namespace {

QCoro::Task<void> failWith(ScreenReaderError error)
{
    co_await QCoro::sleepFor(std::chrono::milliseconds(1));
    throw error;
}

TEST(ScreenCaptureAccess, ACaptureOfTheRealDisplayConfirmsAccess)
{
    ScreenCaptureAccess access;
    EXPECT_TRUE(access.preflight());
    EXPECT_FALSE(access.confirmedByCapture());
    QSignalSpy checking(&access, &ScreenCaptureAccess::checkingChanged);
    EXPECT_TRUE(runTask(access.check()));
    EXPECT_TRUE(access.confirmedByCapture());
    EXPECT_FALSE(access.needsSettings());
    EXPECT_TRUE(access.message().isEmpty());
    EXPECT_EQ(checking.count(), 2); // on, then off
    EXPECT_FALSE(access.checking());
}

TEST(ScreenCaptureAccess, AFailedCheckExplainsAndALaterSuccessClearsIt)
{
    ScreenCaptureAccess access;
    access.testCapture = [] { return failWith(ScreenReaderError::declined()); };
    EXPECT_FALSE(runTask(access.check()));
    EXPECT_TRUE(access.needsSettings());
    EXPECT_FALSE(access.message().isEmpty());
    EXPECT_FALSE(access.confirmedByCapture());

    access.testCapture = [] { return failWith(ScreenReaderError::noDisplay()); };
    EXPECT_FALSE(runTask(access.check()));
    EXPECT_TRUE(access.message().contains(ScreenReaderError::noDisplay().description()));

    access.testCapture = []() -> QCoro::Task<void> { co_return; };
    EXPECT_TRUE(runTask(access.check()));
    EXPECT_FALSE(access.needsSettings());
    EXPECT_TRUE(access.message().isEmpty());
    EXPECT_TRUE(access.confirmedByCapture());
}

TEST(ScreenCaptureAccess, ASecondCheckWhileOneRunsIsFalseAtOnce)
{
    ScreenCaptureAccess access;
    access.testCapture = []() -> QCoro::Task<void> { co_await QCoro::sleepFor(std::chrono::milliseconds(200)); };
    auto first = access.check();
    EXPECT_TRUE(access.checking());
    EXPECT_FALSE(runTask(access.check()));
    EXPECT_TRUE(access.message().isEmpty()); // the refused check changes nothing
    EXPECT_TRUE(runTask(std::move(first)));
    EXPECT_FALSE(access.checking());
}

TEST(ScreenCaptureAccess, RelaunchStartsTheProgramAgainAfterASecondAndQuits)
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
    EXPECT_FALSE(QFile::exists(marker));
    ASSERT_TRUE(waitUntil([&] { return QFile(marker).size() > 0; }, std::chrono::seconds(5)));
    EXPECT_GE(clock.elapsed(), 900);
    QFile file(marker);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("--pair|it's here|"));
    EXPECT_TRUE(access.message().isEmpty());
}

TEST(ScreenCaptureAccess, RelaunchThatCannotStartAsksTheUserAndStays)
{
    ScreenCaptureAccess access;
    int quits = 0;
    access.quit = [&] { ++quits; };
    access.relaunchShell = QStringLiteral("/nonexistent/sh");
    access.relaunch();
    EXPECT_EQ(quits, 0);
    EXPECT_EQ(access.message(), QStringLiteral("Please quit Tovrick and open it again from Applications."));
}

TEST(ScreenCaptureAccess, OpenSettingsExplainsInsteadOfOpeningAPane)
{
    ScreenCaptureAccess access;
    QSignalSpy changed(&access, &ScreenCaptureAccess::messageChanged);
    access.openSettings();
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(access.message().contains(QStringLiteral("Recheck")));
}

} // namespace
