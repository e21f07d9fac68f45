#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <vector>

#include "shared/util/CancelToken.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

TEST(CancelToken, CallbacksRunOnceInOrderAndRemovedOnesNever)
{
    CancelToken token;
    const CancelToken copy = token;
    std::vector<int> ran;
    token.onCancel([&] { ran.push_back(1); });
    const auto removed = token.onCancel([&] { ran.push_back(2); });
    token.onCancel([&] { ran.push_back(3); });
    token.removeCallback(removed);
    EXPECT_FALSE(copy.isCancelled());

    token.cancel();
    token.cancel();
    EXPECT_TRUE(copy.isCancelled());
    EXPECT_EQ(ran, (std::vector<int> {1, 3}));
    // Too late to wait for it: runs at once.
    CancelToken(copy).onCancel([&] { ran.push_back(4); });
    EXPECT_EQ(ran, (std::vector<int> {1, 3, 4}));
    EXPECT_FALSE(CancelToken().isCancelled());
}

TEST(CancelToken, SleepEndsEarlyWhenCancelledAndTheCallerGoesOn)
{
    const CancelToken fresh;
    EXPECT_TRUE(runTask(cancellableSleep(10ms, fresh)));

    CancelToken cancelled;
    cancelled.cancel();
    EXPECT_FALSE(runTask(cancellableSleep(1h, cancelled)));

    // A wait of an hour, called off after a moment: runTask would abort long before the hour.
    CancelToken token;
    QTimer::singleShot(20, [token]() mutable { token.cancel(); });
    EXPECT_FALSE(runTask(cancellableSleep(1h, token)));

    // Two sleepers on one token both wake.
    CancelToken shared;
    int woken = 0;
    auto sleeper = [](CancelToken t, int* count) -> QCoro::Task<> {
        auto wait = cancellableSleep(1h, t);
        co_await std::move(wait);
        ++*count;
    };
    sleeper(shared, &woken);
    sleeper(shared, &woken);
    shared.cancel();
    EXPECT_EQ(woken, 0); // never inside cancel() itself
    EXPECT_TRUE(waitUntil([&] { return woken == 2; }));
}
