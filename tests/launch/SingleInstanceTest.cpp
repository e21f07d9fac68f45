#include <gtest/gtest.h>

#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <csignal>
#include <future>

#include "Tovrick/shell/CommandLine.h"
#include "Tovrick/shell/SingleInstance.h"
#include "account/AccountFixture.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

// A handover blocks until the running instance answers: from the same process it has to come from
// another thread, while this one serves the event loop.
bool handOverFromAnotherThread(const QString& folder, const QStringList& arguments, int timeoutMs = 5000)
{
    auto sending = std::async(std::launch::async, [folder, arguments, timeoutMs] {
        return SingleInstance(folder).handOver(arguments, timeoutMs);
    });
    waitUntil([&] { return sending.wait_for(0s) == std::future_status::ready; }, 20s);
    return sending.get();
}

QByteArray sendRawLine(const QString& socketPath, const QByteArray& line)
{
    auto sending = std::async(std::launch::async, [socketPath, line] {
        QLocalSocket socket;
        socket.connectToServer(socketPath);
        if (!socket.waitForConnected(3000))
            return QByteArray("no connection");
        socket.write(line);
        socket.waitForBytesWritten(3000);
        while (!socket.canReadLine())
            if (!socket.waitForReadyRead(3000))
                return QByteArray("no answer");
        return socket.readLine().trimmed();
    });
    waitUntil([&] { return sending.wait_for(0s) == std::future_status::ready; }, 20s);
    return sending.get();
}

} // namespace

TEST(SingleInstance, TheFirstClaimsLaterOnesHandOverWhatTheyWereAsked)
{
    QTemporaryDir folder;
    EXPECT_FALSE(handOverFromAnotherThread(folder.path(), {QStringLiteral("--pair")}, 300)) << "nobody runs yet";

    QList<QStringList> received;
    SingleInstance first(folder.path());
    ASSERT_TRUE(first.claim([&](const QStringList& arguments) { received.append(arguments); }));
    SingleInstance second(folder.path());
    EXPECT_FALSE(second.claim([](const QStringList&) {})) << "one instance per session";

    const QStringList pair {QStringLiteral("--pair")};
    const QStringList link {QStringLiteral("tovrick://auth/google?state=s&code=c")};
    EXPECT_TRUE(handOverFromAnotherThread(folder.path(), pair));
    EXPECT_TRUE(handOverFromAnotherThread(folder.path(), link));
    EXPECT_TRUE(handOverFromAnotherThread(folder.path(), {}));
    ASSERT_TRUE(waitUntil([&] { return received.size() == 3; }));
    EXPECT_EQ(received, (QList<QStringList> {pair, link, QStringList {}}));
}

TEST(SingleInstance, ALineThatIsNoStartOfTheProgramIsRefusedAndNotActedOn)
{
    QTemporaryDir folder;
    int received = 0;
    SingleInstance instance(folder.path());
    ASSERT_TRUE(instance.claim([&](const QStringList&) { ++received; }));
    const struct {
        const char* line;
        const char* why;
    } cases[] = {
        {"not json\n", "not JSON"},
        {"{\"pair\":true}\n", "not a list"},
        {"[\"--pair\", 3]\n", "not all text"},
        {"[\"--focus-api-test\"]\n", "a check is not for the running program"},
        {"[\"--help\"]\n", "help is not for the running program"},
        {"[\"--format-disk\"]\n", "an unknown switch"},
        {"[\"https://example.org/\"]\n", "a stray argument"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sendRawLine(instance.socketPath(), c.line), "refused") << c.why;
    // A line that never ends is cut off rather than buffered without end.
    EXPECT_NE(sendRawLine(instance.socketPath(), QByteArray(64 * 1024, 'x')), "ok");
    waitUntil([] { return false; }, 100ms);
    EXPECT_EQ(received, 0);
}

// Run as a child process by the test below: claims and waits to be killed.
TEST(SingleInstanceChild, HoldsTheClaim)
{
    const QString folder = qEnvironmentVariable("TOVRICK_INSTANCE_CHILD_FOLDER");
    if (folder.isEmpty())
        GTEST_SKIP() << "only run as the second process of SingleInstance.ARunThatCrashedLeavesNothingInTheWay";
    SingleInstance instance(folder);
    ASSERT_TRUE(instance.claim([](const QStringList&) {}));
    std::fprintf(stdout, "claimed\n");
    std::fflush(stdout);
    waitUntil([] { return false; }, 60s);
}

TEST(SingleInstance, ARunThatCrashedLeavesNothingInTheWay)
{
    QTemporaryDir folder;
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("TOVRICK_INSTANCE_CHILD_FOLDER"), folder.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(),
                {QStringLiteral("--gtest_filter=SingleInstanceChild.HoldsTheClaim")});
    QByteArray printed;
    ASSERT_TRUE(waitUntil([&] { return (printed += child.readAllStandardOutput()).contains("claimed"); }, 30s));
    SingleInstance later(folder.path());
    EXPECT_FALSE(later.claim([](const QStringList&) {}));

    ::kill(static_cast<pid_t>(child.processId()), SIGKILL);
    ASSERT_TRUE(child.waitForFinished(10000));
    ASSERT_TRUE(QFileInfo::exists(later.lockPath())) << "the lock file is left behind";
    QStringList received;
    ASSERT_TRUE(later.claim([&](const QStringList& arguments) { received = arguments; }))
        << "a lock whose process is gone is no claim";
    EXPECT_TRUE(handOverFromAnotherThread(folder.path(), {QStringLiteral("--pair")}));
    EXPECT_TRUE(waitUntil([&] { return !received.isEmpty(); }));
}

// The browser's sign-in answer reaches the running program through a later start.
class SignInHandover : public AccountFixture {};

// Run as a child process by the test below: a start of the program with the link, as the browser
// makes it through the link handler.
TEST(SignInHandoverChild, HandsOverTheLink)
{
    const QString url = qEnvironmentVariable("TOVRICK_HANDOVER_CHILD_URL");
    if (url.isEmpty())
        GTEST_SKIP() << "only run as the second process of SignInHandover.TheLinkComesFromALaterStart";
    const CommandLine line = CommandLine::parse({QStringLiteral("tovrick"), url});
    ASSERT_EQ(line.action, CommandLine::Action::run);
    ASSERT_FALSE(line.link.isEmpty());
    SingleInstance instance(qEnvironmentVariable("TOVRICK_HANDOVER_CHILD_FOLDER"));
    ASSERT_FALSE(instance.claim([](const QStringList&) {}));
    EXPECT_TRUE(instance.handOver({QString::fromUtf8(line.link.toEncoded())}));
}

TEST_F(SignInHandover, TheLinkComesFromALaterStart)
{
    account->clearSession();
    QTemporaryDir folder;
    SingleInstance running(folder.path());
    ASSERT_TRUE(running.claim([this](const QStringList& arguments) {
        account->handleCallbackURL(CommandLine::parse(QStringList {QStringLiteral("tovrick")} + arguments).link);
    }));

    QProcess child;
    int childExit = -1;
    account->openURL = [&](const QUrl& page) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const QString state = QUrlQuery(page).queryItemValue(QStringLiteral("state"));
        env.insert(QStringLiteral("TOVRICK_HANDOVER_CHILD_URL"),
                   QStringLiteral("tovrick://auth/google?state=%1&code=from-child").arg(state));
        env.insert(QStringLiteral("TOVRICK_HANDOVER_CHILD_FOLDER"), folder.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(&child, &QProcess::finished, [&](int code) { childExit = code; });
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SignInHandoverChild.HandsOverTheLink")});
        return true;
    };
    auto timing = fastTiming();
    timing.signInWait = 30s; // a sanitized child process starts slowly
    account->setTimingForTests(timing);

    runTask(account->signInWithGoogle(), 60s);

    EXPECT_EQ(account->message(), QString());
    EXPECT_TRUE(account->isSignedIn());
    EXPECT_EQ(api.lastRequest(QStringLiteral("auth/google/finish"))->json().at("code"), "from-child");
    ASSERT_TRUE(waitUntil([&] { return childExit != -1; }, 30s));
    EXPECT_EQ(childExit, 0);
}
