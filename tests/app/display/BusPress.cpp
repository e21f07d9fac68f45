#include "app/display/BusPress.h"

#include "Tovrick/screen/AccessibilityBus.h"

#include <QAccessible>
#include <QEventLoop>
#include <QThreadPool>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <unistd.h>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

namespace {

// The context libatspi dispatches the bus's messages on: iterated on the bus thread to take events.
GMainContext* busContext = nullptr;

// Qt reads it once, when its bridge first meets the bus: before main creates the application.
const bool accessibilityAlwaysOn = qputenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON", "1");

bool hasState(AtspiAccessible* node, AtspiStateType state)
{
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool has = states && atspi_state_set_contains(states, state);
    if (states)
        g_object_unref(states);
    return has;
}

// The index of the node's action of that name, or -1. Every item offers the Action interface; a
// label's has no actions.
int actionIndex(AtspiAccessible* node, const QByteArray& wanted)
{
    AtspiAction* action = atspi_accessible_get_action_iface(node);
    if (!action)
        return -1;
    int found = -1;
    const int count = atspi_action_get_n_actions(action, nullptr);
    for (int i = 0; i < count && found < 0; ++i) {
        gchar* actionName = atspi_action_get_action_name(action, i, nullptr);
        if (actionName && wanted == actionName)
            found = i;
        g_free(actionName);
    }
    g_object_unref(action);
    return found;
}

QString ownString(gchar* text)
{
    const QString result = QString::fromUtf8(text ? text : "");
    g_free(text);
    return result;
}

// Calls `visit` for every node under `node`, depth first, until it answers true.
bool walk(AtspiAccessible* node, const std::function<bool(AtspiAccessible*)>& visit, int depth = 0)
{
    if (visit(node))
        return true;
    if (depth > 60)
        return false;
    const int count = atspi_accessible_get_child_count(node, nullptr);
    for (int i = 0; i < count; ++i) {
        AtspiAccessible* child = atspi_accessible_get_child_at_index(node, i, nullptr);
        if (!child)
            continue;
        const bool done = walk(child, visit, depth + 1);
        g_object_unref(child);
        if (done)
            return true;
    }
    return false;
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

BusNode describe(AtspiAccessible* node)
{
    BusNode out;
    out.role = ownString(atspi_accessible_get_role_name(node, nullptr));
    out.name = ownString(atspi_accessible_get_name(node, nullptr));
    out.enabled = hasState(node, ATSPI_STATE_ENABLED);
    out.expandable = hasState(node, ATSPI_STATE_EXPANDABLE);
    out.expanded = hasState(node, ATSPI_STATE_EXPANDED);
    out.checked = hasState(node, ATSPI_STATE_CHECKED);
    out.description = ownString(atspi_accessible_get_description(node, nullptr));
    return out;
}

// Retries `attempt` on the bus thread until it answers true: the bridge registers the application,
// and the tree follows a page change, a moment later.
bool retryOnBus(const std::function<bool(AtspiAccessible* app)>& attempt)
{
    bool done = false;
    onBusThread([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            if (AtspiAccessible* app = ownApplication()) {
                done = attempt(app);
                g_object_unref(app);
            }
            if (!done)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    });
    return done;
}

bool shownNamed(AtspiAccessible* node, const QString& name)
{
    return hasState(node, ATSPI_STATE_SHOWING) && ownString(atspi_accessible_get_name(node, nullptr)) == name;
}

} // namespace

// One thread kept for every call: libatspi's connection and what the C library keeps
// per thread stay with it. Every bus call is a round trip to this process's main thread, which
// keeps answering meanwhile.
void onBusThread(const std::function<void()>& job)
{
    Q_UNUSED(accessibilityAlwaysOn);
    // Asking is what starts Qt's bridge, in a process that has not yet drawn a control that asks.
    QAccessible::isActive();
    static QThreadPool* const worker = [] {
        auto* pool = new QThreadPool;
        pool->setMaxThreadCount(1);
        pool->setExpiryTimeout(-1);
        return pool;
    }();
    // The loop runs until the job's quit arrives, however soon the job ends: the worker touches
    // nothing of this frame after posting it.
    QEventLoop loop;
    worker->start([&] {
        static std::once_flag once;
        static bool ready = false;
        std::call_once(once, [] {
            GMainContext* context = g_main_context_new();
            ready = startAccessibilityBus(context);
            if (ready)
                busContext = context;
            else
                g_main_context_unref(context);
        });
        if (ready)
            job();
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
}

bool turnBusUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    if (!busContext)
        return done();
    bool expired = false;
    GSource* limit = g_timeout_source_new(static_cast<guint>(timeout.count()));
    g_source_set_callback(limit, [](gpointer flag) {
        *static_cast<bool*>(flag) = true;
        return G_SOURCE_REMOVE;
    }, &expired, nullptr);
    g_source_attach(limit, busContext);
    while (!done() && !expired)
        g_main_context_iteration(busContext, TRUE);
    g_source_destroy(limit);
    g_source_unref(limit);
    return done();
}

bool actOverBus(const QString& name, const QString& action)
{
    const QByteArray wanted = action.toUtf8();
    bool acted = false;
    const bool found = retryOnBus([&](AtspiAccessible* app) {
        return walk(app, [&](AtspiAccessible* node) {
            const int index = shownNamed(node, name) ? actionIndex(node, wanted) : -1;
            if (index < 0)
                return false;
            AtspiAction* iface = atspi_accessible_get_action_iface(node);
            acted = iface && atspi_action_do_action(iface, index, nullptr);
            if (iface)
                g_object_unref(iface);
            return true;
        });
    });
    return found && acted;
}

bool pressOverBus(const QString& name)
{
    return actOverBus(name, QStringLiteral("Press"));
}

std::vector<BusNode> shownOverBus()
{
    std::vector<BusNode> nodes;
    retryOnBus([&](AtspiAccessible* app) {
        walk(app, [&](AtspiAccessible* node) {
            if (hasState(node, ATSPI_STATE_SHOWING))
                nodes.push_back(describe(node));
            return false;
        });
        return !nodes.empty();
    });
    return nodes;
}

BusNode shownNodeOverBus(const QString& name)
{
    BusNode found;
    retryOnBus([&](AtspiAccessible* app) {
        return walk(app, [&](AtspiAccessible* node) {
            if (!shownNamed(node, name))
                return false;
            found = describe(node);
            return true;
        });
    });
    return found;
}

std::vector<BusFocusHolder> focusHoldersOverBus()
{
    std::vector<BusFocusHolder> holders;
    retryOnBus([&](AtspiAccessible* app) {
        holders.clear();
        walk(app, [&](AtspiAccessible* node) {
            if (!hasState(node, ATSPI_STATE_FOCUSED))
                return false;
            BusFocusHolder holder;
            holder.node = describe(node);
            holder.showing = hasState(node, ATSPI_STATE_SHOWING);
            holder.focusable = hasState(node, ATSPI_STATE_FOCUSABLE);
            if (AtspiComponent* component = atspi_accessible_get_component_iface(node)) {
                if (AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
                    holder.place = QRect(rect->x, rect->y, rect->width, rect->height);
                    g_free(rect);
                }
                g_object_unref(component);
            }
            holders.push_back(holder);
            return false;
        });
        return true;
    });
    return holders;
}

namespace {

// Calls `use` with the Value interface of the first shown node of that name and role.
bool withValue(const QString& name, const QString& role, const std::function<void(AtspiValue*)>& use)
{
    return retryOnBus([&](AtspiAccessible* app) {
        return walk(app, [&](AtspiAccessible* node) {
            if (!shownNamed(node, name) || ownString(atspi_accessible_get_role_name(node, nullptr)) != role)
                return false;
            AtspiValue* value = atspi_accessible_get_value_iface(node);
            if (!value)
                return false;
            use(value);
            g_object_unref(value);
            return true;
        });
    });
}

} // namespace

std::optional<BusValue> valueOverBus(const QString& name, const QString& role)
{
    BusValue read;
    const bool found = withValue(name, role, [&](AtspiValue* value) {
        read.current = atspi_value_get_current_value(value, nullptr);
        read.minimum = atspi_value_get_minimum_value(value, nullptr);
        read.maximum = atspi_value_get_maximum_value(value, nullptr);
    });
    return found ? std::optional<BusValue>(read) : std::nullopt;
}

bool setValueOverBus(const QString& name, const QString& role, double wanted)
{
    bool set = false;
    const bool found = withValue(name, role, [&](AtspiValue* value) {
        set = atspi_value_set_current_value(value, wanted, nullptr);
    });
    return found && set;
}

// Qt's accessibility bridge keeps, for the process's life, the attached objects it read from the
// windows of tests already ended.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QQmlData::createQQmlData\nleak:qmlAttachedPropertiesObject\nleak:QQmlData::attachedProperties\n";
}


int actOnEachOverBus(const QString& name, const QString& action)
{
    const QByteArray wanted = action.toUtf8();
    int acted = 0;
    retryOnBus([&](AtspiAccessible* app) {
        walk(app, [&](AtspiAccessible* node) {
            const int index = shownNamed(node, name) ? actionIndex(node, wanted) : -1;
            if (index < 0)
                return false;
            AtspiAction* iface = atspi_accessible_get_action_iface(node);
            acted += iface && atspi_action_do_action(iface, index, nullptr);
            if (iface)
                g_object_unref(iface);
            return false;
        });
        return acted > 0;
    });
    return acted;
}

namespace {

// Calls `use` with the Component interface of the first shown node of that name and role.
bool withComponent(const QString& name, const QString& role, const std::function<void(AtspiComponent*)>& use)
{
    return retryOnBus([&](AtspiAccessible* app) {
        return walk(app, [&](AtspiAccessible* node) {
            if (!shownNamed(node, name) || ownString(atspi_accessible_get_role_name(node, nullptr)) != role)
                return false;
            AtspiComponent* component = atspi_accessible_get_component_iface(node);
            if (!component)
                return false;
            use(component);
            g_object_unref(component);
            return true;
        });
    });
}

} // namespace

std::optional<QRect> extentsOverBus(const QString& name, const QString& role)
{
    std::optional<QRect> place;
    withComponent(name, role, [&](AtspiComponent* component) {
        if (AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, nullptr)) {
            place = QRect(rect->x, rect->y, rect->width, rect->height);
            g_free(rect);
        }
    });
    return place;
}

QString nameAtPointOverBus(const QString& name, const QString& role, QPoint at)
{
    QString found;
    withComponent(name, role, [&](AtspiComponent* component) {
        AtspiAccessible* node = atspi_component_get_accessible_at_point(component, at.x(), at.y(),
                                                                          ATSPI_COORD_TYPE_SCREEN, nullptr);
        if (node) {
            found = ownString(atspi_accessible_get_name(node, nullptr));
            g_object_unref(node);
        }
    });
    return found;
}
