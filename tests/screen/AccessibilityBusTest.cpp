// The accessibility library is started and its connections moved from a thread of their own, while
// Qt's main thread iterates GLib's default main context: that thread must dispatch nothing meanwhile.
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include "Tovrick/screen/AccessibilityBus.h"
#include "support/RunTask.h"

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include <glib.h>

namespace {

using namespace std::chrono_literals;

// Puts a dispatch on the default main context and waits, up to `patience`, for the main thread to
// make it; whether it did.
bool mainThreadDispatches(std::chrono::milliseconds patience)
{
    auto done = std::make_shared<std::atomic<bool>>(false);
    g_main_context_invoke_full(
        g_main_context_default(), G_PRIORITY_HIGH,
        +[](gpointer data) -> gboolean {
            (*static_cast<std::shared_ptr<std::atomic<bool>>*>(data))->store(true);
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<std::atomic<bool>>(done),
        +[](gpointer data) { delete static_cast<std::shared_ptr<std::atomic<bool>>*>(data); });
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done->load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    return done->load();
}

// A thread with a main context of its own, as each of Qt's threads has: what it hands to the
// default context is dispatched by the main thread, never by itself.
template <typename Job>
std::thread ownThread(Job job)
{
    return std::thread([job] {
        GMainContext* own = g_main_context_new();
        g_main_context_push_thread_default(own);
        job();
        g_main_context_pop_thread_default(own);
        g_main_context_unref(own);
    });
}

// Makes the main thread's waiting dispatches, as its event loop would.
void dispatchWaiting()
{
    for (int i = 0; i < 100 && g_main_context_iteration(nullptr, FALSE); ++i) {
    }
}

} // namespace

TEST(AccessibilityBus, TheMainThreadDispatchesNothingWhileAJobRunsAndGoesOnAfter)
{
    // A dispatch the main thread makes at once when nothing holds it, as seen from another thread.
    std::atomic<bool> before = false;
    std::atomic<bool> during = true;
    std::atomic<bool> after = false;
    std::atomic<bool> finished = false;
    std::thread worker = ownThread([&] {
        before = mainThreadDispatches(10s);
        whileMainContextRests([&] { during = mainThreadDispatches(300ms); }, 10s);
        after = mainThreadDispatches(10s);
        finished = true;
    });
    const bool ended = waitUntil([&] { return finished.load(); }, 60s);
    worker.join();
    ASSERT_TRUE(ended);
    EXPECT_TRUE(before);
    EXPECT_FALSE(during) << "the main thread dispatched while the job ran";
    EXPECT_TRUE(after) << "the main thread stayed parked";
}

TEST(AccessibilityBus, OnTheMainThreadAJobRunsAtOnceAndAHeldUpMainThreadIsNotWaitedForBeyondPatience)
{
    bool ran = false;
    QElapsedTimer took;
    took.start();
    whileMainContextRests([&] { ran = true; }, 60s);
    EXPECT_TRUE(ran);
    EXPECT_LT(took.elapsed(), 30000) << "the main thread waited for itself";

    // The main thread waits for the worker and iterates nothing: the job runs all the same.
    std::promise<void> jobDone;
    std::thread worker = ownThread([&] { whileMainContextRests([&] { jobDone.set_value(); }, 100ms); });
    EXPECT_EQ(jobDone.get_future().wait_for(60s), std::future_status::ready);
    worker.join();
    // The park put up meanwhile finds the job done and holds nothing.
    dispatchWaiting();
    std::atomic<bool> dispatched = false;
    std::thread probe = ownThread([&] { dispatched = mainThreadDispatches(10s); });
    EXPECT_TRUE(waitUntil([&] { return dispatched.load(); }, 30s));
    probe.join();
}
