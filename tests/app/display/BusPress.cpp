#include "app/display/BusPress.h"

#include <QAccessible>
#include <QEventLoop>
#include <QThreadPool>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <unistd.h>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

namespace {

// Qt reads it once, when its bridge first meets the bus: before main creates the application.
const bool accessibilityAlwaysOn = qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");

// The index of the node's "Press" action, or -1. Every item offers the Action interface; a label's
// has no actions.
int pressIndex(AtspiAccessible* node)
{
    AtspiAction* action = atspi_accessible_get_action_iface(node);
    if (!action)
        return -1;
    int found = -1;
    const int count = atspi_action_get_n_actions(action, nullptr);
    for (int i = 0; i < count && found < 0; ++i) {
        gchar* actionName = atspi_action_get_action_name(action, i, nullptr);
        if (actionName && qstrcmp(actionName, "Press") == 0)
            found = i;
        g_free(actionName);
    }
    g_object_unref(action);
    return found;
}

bool shownWithPress(AtspiAccessible* node)
{
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
    if (states)
        g_object_unref(states);
    return showing && pressIndex(node) >= 0;
}

AtspiAccessible* findNamed(AtspiAccessible* node, const QByteArray& name, int depth)
{
    gchar* own = atspi_accessible_get_name(node, nullptr);
    const bool match = own && name == own;
    g_free(own);
    if (match && shownWithPress(node))
        return static_cast<AtspiAccessible*>(g_object_ref(node));
    if (depth > 60)
        return nullptr;
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        if (!child)
            continue;
        AtspiAccessible* found = findNamed(child, name, depth + 1);
        g_object_unref(child);
        if (found)
            return found;
    }
    return nullptr;
}

// This process's application on the bus, read afresh: the windows change between presses.
AtspiAccessible* ownApplication()
{
    AtspiAccessible* desktop = atspi_get_desktop(0);
    AtspiAccessible* own = nullptr;
    const int count = atspi_accessible_get_child_count(desktop, nullptr);
    for (int i = 0; i < count && !own; ++i) {
        AtspiAccessible* app = atspi_accessible_get_child_at_index(desktop, i, nullptr);
        if (!app)
            continue;
        if (atspi_accessible_get_process_id(app, nullptr) == static_cast<guint>(getpid())) {
            atspi_accessible_set_cache_mask(app, ATSPI_CACHE_NONE);
            atspi_accessible_clear_cache(app);
            own = app;
        } else {
            g_object_unref(app);
        }
    }
    g_object_unref(desktop);
    return own;
}

bool pressNode(AtspiAccessible* node)
{
    const int index = pressIndex(node);
    AtspiAction* action = atspi_accessible_get_action_iface(node);
    const bool done = action && index >= 0 && atspi_action_do_action(action, index, nullptr);
    if (action)
        g_object_unref(action);
    return done;
}

// Runs on a thread of its own: every call is a round trip to this process's main thread, which
// must keep answering meanwhile.
bool pressFromWorker(const QByteArray& name)
{
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        ready = atspi_init() <= 1;
        if (ready)
            atspi_set_main_context(g_main_context_new());
    });
    if (!ready)
        return false;
    // The bridge registers the application, and the tree follows a page change, a moment later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        if (AtspiAccessible* app = ownApplication()) {
            AtspiAccessible* node = findNamed(app, name, 0);
            g_object_unref(app);
            if (node) {
                const bool pressed = pressNode(node);
                g_object_unref(node);
                return pressed;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

} // namespace

bool pressOverBus(const QString& name)
{
    Q_UNUSED(accessibilityAlwaysOn);
    // Asking is what starts Qt's bridge, in a process that has not yet drawn a control that asks.
    QAccessible::isActive();
    // One thread for every press, kept to the end: libatspi's connection and what the C library
    // keeps per thread stay with it.
    static QThreadPool* const worker = [] {
        auto* pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        return pool;
    }();
    QEventLoop loop;
    std::atomic<bool> finished = false;
    bool pressed = false;
    worker->start([&, wanted = name.toUtf8()] {
        pressed = pressFromWorker(wanted);
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        finished = true;
    });
    if (!finished)
        loop.exec();
    return pressed;
}

// Qt's accessibility bridge keeps, for the process's life, the attached objects it read from the
// windows of tests already ended.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QQmlData::createQQmlData\nleak:qmlAttachedPropertiesObject\nleak:QQmlData::attachedProperties\n";
}
