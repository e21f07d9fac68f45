#include "Tovrick/screen/ControlsReader.h"

#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenSnapshot.h"
#include "Tovrick/screen/X11Display.h"
#include "shared/util/Log.h"

#include <QCoroFuture>
#include <QCoroSignal>
#include <QFutureWatcher>
#include <QElapsedTimer>
#include <QThreadPool>
#include <QtConcurrent>

#include <atomic>
#include <cmath>
#include <map>
#include <vector>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#pragma pop_macro("signals")

#include <functional>

namespace {

constexpr int kMaxDepth = 40;
constexpr int kMaxNodes = 5000;
std::atomic<qint64> gWalkBudgetMs {ControlsReader::kWalkBudget.count()};

// Root pixels per pixel of the application being walked, for the walk's duration (walks run on the
// one accessibility thread).
thread_local double tAppScale = 1.0;
// Calls of the walk under way that got no answer: what they would have told is missing. A call that
// times out (a busy application, a loaded machine) gives -1 or null, often with no error set.
thread_local int tUnanswered = 0;

// libatspi dispatches on a GLib main context; the default one is iterated by Qt's main thread, so
// it gets a private one that only this thread iterates.
GMainContext* gContext = nullptr;

// What the bus told since the last focused-field check, in the order it told it: an element took the
// focus or lost it, or changed its role or whether it is editable. Accessibility thread only.
struct FocusEvent {
    enum Kind { gained, lost, changed };
    QString element;
    Kind kind;
};
std::vector<FocusEvent> gFocusEvents;
bool gFocusEventsOverflowed = false;
constexpr size_t kMaxFocusEvents = 256;

QString addressOf(AtspiAccessible* node)
{
    const AtspiObject* object = ATSPI_OBJECT(node);
    if (!object->app || !object->app->bus_name || !object->path)
        return {};
    return QString::fromUtf8(object->app->bus_name) + QLatin1Char(':') + QString::fromUtf8(object->path);
}

void onFocusEvent(const AtspiEvent* event)
{
    if (!event || !event->source || !event->type)
        return;
    if (gFocusEvents.size() >= kMaxFocusEvents) {
        gFocusEventsOverflowed = true;
        return;
    }
    FocusEvent::Kind kind = FocusEvent::changed;
    if (g_str_has_prefix(event->type, "object:state-changed:focused"))
        kind = event->detail1 != 0 ? FocusEvent::gained : FocusEvent::lost;
    gFocusEvents.push_back(FocusEvent {addressOf(event->source), kind});
}

bool ready()
{
    static const bool ok = [] {
        if (atspi_init() > 1)
            return false;
        gContext = g_main_context_new();
        atspi_set_main_context(gContext);
        // A hung application must not stall a screen reading for long.
        atspi_set_timeout(400, 2000);
        // Applications send focus events once someone listens: from here on, for the typing that
        // follows a focused-field check.
        // A field that turns into a password field where it stands tells by its role.
        for (const char* type : {"object:state-changed:focused", "object:property-change:accessible-role",
                                 "object:state-changed:editable"}) {
            GError* error = nullptr;
            atspi_event_listener_register_no_data(onFocusEvent, nullptr, type, &error);
            if (error)
                logline::warning(QStringLiteral("controls: %1 events unavailable: %2")
                                     .arg(QString::fromUtf8(type), QString::fromUtf8(error->message)));
            g_clear_error(&error);
        }
        return true;
    }();
    if (ok)
        while (g_main_context_iteration(gContext, FALSE)) {
        }
    return ok;
}

struct Ref {
    AtspiAccessible* object = nullptr;
    explicit Ref(AtspiAccessible* o) : object(o) {}
    ~Ref()
    {
        if (object)
            g_object_unref(object);
    }
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
};

QString kindOf(AtspiRole role, AtspiStateSet* states)
{
    switch (role) {
    case ATSPI_ROLE_PUSH_BUTTON:
        return QStringLiteral("button");
    case ATSPI_ROLE_TOGGLE_BUTTON:
        return QStringLiteral("toggle");
    case ATSPI_ROLE_CHECK_BOX:
        return QStringLiteral("checkbox");
    case ATSPI_ROLE_RADIO_BUTTON:
        return QStringLiteral("radio");
    case ATSPI_ROLE_COMBO_BOX:
        return QStringLiteral("combobox");
    case ATSPI_ROLE_PASSWORD_TEXT:
        return QStringLiteral("password");
    case ATSPI_ROLE_ENTRY:
        return QStringLiteral("textfield");
    case ATSPI_ROLE_TEXT:
        return atspi_state_set_contains(states, ATSPI_STATE_EDITABLE) ? QStringLiteral("textfield") : QString();
    case ATSPI_ROLE_LINK:
        return QStringLiteral("link");
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
        return QStringLiteral("menuitem");
    case ATSPI_ROLE_MENU:
        return QStringLiteral("menu");
    case ATSPI_ROLE_PAGE_TAB:
        return QStringLiteral("tab");
    case ATSPI_ROLE_SLIDER:
        return QStringLiteral("slider");
    case ATSPI_ROLE_SPIN_BUTTON:
        return QStringLiteral("spinbutton");
    case ATSPI_ROLE_LIST_ITEM:
        return QStringLiteral("listitem");
    default:
        return {};
    }
}

std::optional<QRectF> extentsOf(AtspiAccessible* node, const DisplayGeometry& geometry)
{
    AtspiComponent* component = atspi_accessible_get_component_iface(node);
    if (!component)
        return std::nullopt;
    GError* error = nullptr;
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    if (error || !rect)
        ++tUnanswered;
    g_clear_error(&error);
    if (!rect)
        return std::nullopt;
    const QRectF pixels(rect->x * tAppScale, rect->y * tAppScale, rect->width * tAppScale,
                        rect->height * tAppScale);
    g_free(rect);
    if (pixels.width() <= 0 || pixels.height() <= 0)
        return std::nullopt;
    return geometry.toPoints(pixels);
}

QString nameOf(AtspiAccessible* node)
{
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_name(node, &error);
    g_clear_error(&error);
    QString out = QString::fromUtf8(name ? name : "").simplified();
    g_free(name);
    return out;
}

// The application's scale: how many root pixels one of its own pixels makes. Its top-level windows
// tell: what it reports for one of them against where that window really is on the root. Some
// toolkits report a window's frame (with the window manager's decoration), some its client area;
// both are tried. None when nothing matches; calls that got no answer are counted.
std::optional<double> appScale(AtspiAccessible* app, qint64 pid)
{
    X11Display display;
    if (!display)
        return std::nullopt;
    const QList<X11Display::PlacedWindow> windows = display.windowsOf(pid);
    if (windows.isEmpty())
        return std::nullopt;
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(app, &error);
    if (error || count < 0)
        ++tUnanswered;
    g_clear_error(&error);
    for (gint i = 0; i < count && i < 16; ++i) {
        Ref top(atspi_accessible_get_child_at_index(app, i, &error));
        g_clear_error(&error);
        if (!top.object) {
            ++tUnanswered;
            continue;
        }
        AtspiComponent* component = atspi_accessible_get_component_iface(top.object);
        if (!component)
            continue;
        AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
        g_object_unref(component);
        g_clear_error(&error);
        if (!rect) {
            ++tUnanswered;
            continue;
        }
        const QRectF reported(rect->x, rect->y, rect->width, rect->height);
        g_free(rect);
        if (reported.width() < 20 || reported.height() < 20)
            continue;
        for (const auto& window : windows) {
            for (const QRect& real : { window.client, window.frame }) {
                // Scales come in steps of a twentieth at the finest; a window's size is whole pixels.
                const double scale = std::round(real.width() / reported.width() * 20.0) / 20.0;
                if (scale < 0.5 || scale > 4.0)
                    continue;
                const double slack = 2.0 + scale;
                if (std::abs(reported.height() * scale - real.height()) <= slack
                    && std::abs(reported.x() * scale - real.x()) <= slack
                    && std::abs(reported.y() * scale - real.y()) <= slack)
                    return scale;
            }
        }
    }
    return std::nullopt;
}

// The scale an application was last seen at: a walk whose own look at the windows got no answer
// still converts with it.
double scaleFor(AtspiAccessible* app, qint64 pid)
{
    thread_local std::map<qint64, double> known;
    const int before = tUnanswered;
    if (const std::optional<double> learned = appScale(app, pid)) {
        if (known.size() > 64)
            known.clear();
        known[pid] = *learned;
        return *learned;
    }
    if (const auto found = known.find(pid); found != known.end()) {
        tUnanswered = before;
        return found->second;
    }
    return 1.0;
}

// How a walk ended: the application was not on the bus (or there is no bus), every showing node
// was visited, the visitor stopped it, or a node, depth or time limit cut it short (or a node did
// not answer, so what lies below it is unknown).
enum class Walked { noApp, whole, stopped, limited };

// Visits the showing nodes of the application with process id `pid`, depth first in tree order,
// until `visit` returns false or a limit is reached.
Walked walk(qint64 pid, const std::function<bool(AtspiAccessible*, AtspiRole, AtspiStateSet*)>& visit)
{
    if (pid <= 0 || !ready())
        return Walked::noApp;
    QElapsedTimer clock;
    clock.start();
    const qint64 budgetMs = gWalkBudgetMs.load();
    int nodes = 0;
    bool stop = false;
    bool limited = false;
    int& unanswered = tUnanswered;
    unanswered = 0;
    bool found = false;

    std::function<void(AtspiAccessible*, int)> descend = [&](AtspiAccessible* node, int depth) {
        if (stop || depth > kMaxDepth || ++nodes > kMaxNodes || clock.elapsed() >= budgetMs) {
            stop = true;
            limited = true;
            return;
        }
        AtspiStateSet* states = atspi_accessible_get_state_set(node);
        if (!states) {
            ++unanswered;
            return;
        }
        const bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(node, &error);
        // Without its role a control would be passed over unseen.
        if (showing && (error || role == ATSPI_ROLE_INVALID))
            ++unanswered;
        g_clear_error(&error);
        if (depth > 0 && !showing) {
            g_object_unref(states);
            return;
        }
        if (depth > 0 && !visit(node, role, states)) {
            stop = true;
            g_object_unref(states);
            return;
        }
        g_object_unref(states);
        const gint count = atspi_accessible_get_child_count(node, &error);
        if (error || count < 0)
            ++unanswered;
        g_clear_error(&error);
        for (gint i = 0; i < count && !stop; ++i) {
            Ref child(atspi_accessible_get_child_at_index(node, i, &error));
            if (error || !child.object)
                ++unanswered;
            g_clear_error(&error);
            if (child.object)
                descend(child.object, depth + 1);
        }
    };

    Ref desktop(atspi_get_desktop(0));
    if (!desktop.object)
        return Walked::noApp;
    // The registry's list of applications changes as programs come and go.
    atspi_accessible_clear_cache(desktop.object);
    GError* error = nullptr;
    const gint apps = atspi_accessible_get_child_count(desktop.object, &error);
    if (error || apps < 0)
        ++unanswered;
    g_clear_error(&error);
    for (gint i = 0; i < apps && !stop; ++i) {
        Ref app(atspi_accessible_get_child_at_index(desktop.object, i, &error));
        g_clear_error(&error);
        if (!app.object) {
            ++unanswered;
            continue;
        }
        const guint appPid = atspi_accessible_get_process_id(app.object, &error);
        if (error)
            ++unanswered;
        g_clear_error(&error);
        if (static_cast<qint64>(appPid) == pid) {
            found = true;
            tAppScale = scaleFor(app.object, pid);
            descend(app.object, 0);
            tAppScale = 1.0;
        }
    }
    // An application that did not answer may be the one asked for.
    if (!found)
        return unanswered > 0 ? Walked::limited : Walked::noApp;
    if (limited || (unanswered > 0 && !stop))
        logline::info(QStringLiteral("controls: walk cut short after %1 ms, %2 nodes, %3 without an answer")
                          .arg(clock.elapsed())
                          .arg(nodes)
                          .arg(unanswered));
    if (limited)
        return Walked::limited;
    if (stop)
        return Walked::stopped;
    return unanswered > 0 ? Walked::limited : Walked::whole;
}

} // namespace

QThreadPool* ControlsReader::pool()
{
    static QThreadPool* threads = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(1);
        created->setExpiryTimeout(-1);
        return created;
    }();
    return threads;
}

void ControlsReader::setWalkBudget(std::chrono::milliseconds budget)
{
    gWalkBudgetMs = budget.count();
}

ControlsReader::Reading ControlsReader::read(qint64 pid, const DisplayGeometry& geometry)
{
    QList<Control> controls;
    const QRectF display(QPointF(0, 0), geometry.sizeInPoints());
    const Walked walked = walk(pid, [&](AtspiAccessible* node, AtspiRole role, AtspiStateSet* states) {
        const QString kind = kindOf(role, states);
        if (kind.isEmpty())
            return true;
        const auto rect = extentsOf(node, geometry);
        if (!rect || !rect->intersects(display))
            return true;
        controls.append(Control {QStringLiteral("C%1").arg(controls.size() + 1), kind, nameOf(node), *rect});
        return controls.size() < kMaxControls;
    });
    const bool cutShort = walked == Walked::limited || controls.size() >= kMaxControls;
    return Reading {std::move(controls), cutShort};
}

ControlsReader::FocusedField ControlsReader::focusedField(qint64 pid, const DisplayGeometry& geometry)
{
    FocusedField field;
    // Focus events told before this look are about before it.
    if (ready()) {
        gFocusEvents.clear();
        gFocusEventsOverflowed = false;
    }
    const Walked walked = walk(pid, [&](AtspiAccessible* node, AtspiRole role, AtspiStateSet* states) {
        if (!atspi_state_set_contains(states, ATSPI_STATE_FOCUSED))
            return true;
        field.frame = extentsOf(node, geometry);
        field.secure = role == ATSPI_ROLE_PASSWORD_TEXT;
        field.editable = !field.secure && atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
        field.element = addressOf(node);
        return false;
    });
    // Only a walk that found the focused element knows what would take the text: a window that
    // shows nodes but none focused (a browser's page without a tree, say) may well hold a password.
    field.checked = walked == Walked::stopped;
    return field;
}

QCoro::Task<ControlsReader::FocusedField> ControlsReader::focusedFieldIsSecure(std::chrono::milliseconds timeout)
{
    const auto geometry = DisplayGeometry::mainDisplay();
    if (!geometry)
        co_return FocusedField {};
    const auto app = X11Display().activeWindowApp();
    if (!app || app->pid <= 0)
        co_return FocusedField {};
    const qint64 pid = app->pid;
    const DisplayGeometry where = *geometry;
    auto read = [pid, where] { return focusedField(pid, where); };
    // The walk may wait behind a screen reading's on the one accessibility thread, or on a hung
    // application: past the time-out the answer is "could not check" and the walk ends on its own.
    auto watcher = std::make_shared<QFutureWatcher<FocusedField>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<FocusedField>::finished, timeout);
    watcher->setFuture(QtConcurrent::run(pool(), read));
    co_await std::move(finished);
    if (!watcher->isFinished())
        co_return FocusedField {};
    co_return watcher->result();
}

QCoro::Task<ControlsReader::Follow> ControlsReader::focusStaysOn(QString element, std::chrono::milliseconds timeout)
{
    if (element.isEmpty())
        co_return Follow::unknown;
    auto follow = [element] {
        if (!ready())
            return Follow::unknown;
        // More than could be kept: something moved.
        if (gFocusEventsOverflowed)
            return Follow::moved;
        for (const FocusEvent& event : gFocusEvents) {
            const bool same = event.element == element;
            if ((event.kind == FocusEvent::gained && !same) || (event.kind == FocusEvent::lost && same))
                return Follow::moved;
            if (event.kind == FocusEvent::changed && same)
                return Follow::changed;
        }
        return Follow::stays;
    };
    auto watcher = std::make_shared<QFutureWatcher<Follow>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<Follow>::finished, timeout);
    watcher->setFuture(QtConcurrent::run(pool(), follow));
    co_await std::move(finished);
    co_return watcher->isFinished() ? watcher->result() : Follow::unknown;
}
