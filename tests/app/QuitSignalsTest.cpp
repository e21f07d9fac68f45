#include <gtest/gtest.h>

#include <QStringList>

#include <csignal>

#include "Tovrick/shell/QuitSignals.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

void (*currentAction(int number))(int)
{
    struct sigaction action {};
    ::sigaction(number, nullptr, &action);
    return action.sa_handler;
}

} // namespace

TEST(QuitSignals, EachEndingSignalBecomesOneQuitOnTheEventLoop)
{
    const struct {
        int number;
        const char* name;
    } cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Whatever the test runner did with it, the program starts with the default here.
        const auto outside = ::signal(c.number, SIG_DFL);
        QStringList quits;
        {
            QuitSignals watcher([&](const QString& name) { quits.append(name); });
            ASSERT_TRUE(watcher.isInstalled());
            ASSERT_EQ(::raise(c.number), 0);
            EXPECT_TRUE(quits.isEmpty()) << "nothing but a pipe write happens in the handler";
            ASSERT_TRUE(waitUntil([&] { return !quits.isEmpty(); }));
            // More signals while quitting (systemd follows SIGTERM with SIGHUP) ask nothing more.
            ::raise(SIGHUP);
            ::raise(c.number);
            waitUntil([] { return false; }, 200ms);
            EXPECT_EQ(quits, QStringList {QString::fromLatin1(c.name)});
        }
        EXPECT_EQ(currentAction(c.number), SIG_DFL) << "the earlier action is back";
        ::signal(c.number, outside);
    }
}

TEST(QuitSignals, ASignalIgnoredAtStartStaysIgnored)
{
    const auto before = ::signal(SIGHUP, SIG_IGN);
    QStringList quits;
    {
        QuitSignals watcher([&](const QString& name) { quits.append(name); });
        ::raise(SIGHUP);
        waitUntil([] { return false; }, 200ms);
        EXPECT_TRUE(quits.isEmpty());
        ::raise(SIGTERM);
        EXPECT_TRUE(waitUntil([&] { return !quits.isEmpty(); }));
    }
    ::signal(SIGHUP, before);
}
