#include "Tovrick/screen/AccessibilityBus.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

namespace {

struct Rest {
    std::mutex mutex;
    std::condition_variable changed;
    const std::thread::id caller = std::this_thread::get_id();
    const std::function<void()>* job = nullptr;
    bool parked = false;
    bool done = false;
};

} // namespace

void whileMainContextRests(const std::function<void()>& job, std::chrono::milliseconds patience)
{
    auto rest = std::make_shared<Rest>();
    rest->job = &job;
    g_main_context_invoke_full(
        g_main_context_default(), G_PRIORITY_HIGH,
        +[](gpointer data) -> gboolean {
            Rest& each = **static_cast<std::shared_ptr<Rest>*>(data);
            std::unique_lock lock(each.mutex);
            if (each.done)
                return G_SOURCE_REMOVE;
            if (std::this_thread::get_id() == each.caller) {
                // The default context is this thread's for the call: nothing else dispatches on it.
                (*each.job)();
                each.done = true;
                return G_SOURCE_REMOVE;
            }
            each.parked = true;
            each.changed.notify_all();
            each.changed.wait(lock, [&] { return each.done; });
            return G_SOURCE_REMOVE;
        },
        new std::shared_ptr<Rest>(rest), +[](gpointer data) { delete static_cast<std::shared_ptr<Rest>*>(data); });
    std::unique_lock lock(rest->mutex);
    if (rest->done)
        return;
    rest->changed.wait_for(lock, patience, [&] { return rest->parked; });
    job();
    rest->done = true;
    rest->changed.notify_all();
}

// libatspi hands its connection to the default main context first and moves it on only when told
// to: the main thread must not dispatch it in between, or both threads would be inside libatspi.
bool startAccessibilityBus(GMainContext* context)
{
    bool ok = false;
    whileMainContextRests(
        [&] {
            ok = atspi_init() <= 1;
            if (ok)
                atspi_set_main_context(context);
        },
        std::chrono::milliseconds(2000));
    return ok;
}
