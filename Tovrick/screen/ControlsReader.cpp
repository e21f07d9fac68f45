#include "Tovrick/screen/ControlsReader.h"

#include "Tovrick/screen/AccessibilityBus.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenSnapshot.h"
#include "Tovrick/screen/X11Display.h"
#include "shared/util/Log.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QCoroSignal>
#include <QFutureWatcher>
#include <QElapsedTimer>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#pragma push_macro("signals")
#undef signals
#include <atspi/atspi.h>
#include <atspi/atspi-gmain.h>
#pragma pop_macro("signals")

#include <functional>

namespace {

constexpr int kMaxDepth = 40;
constexpr int kMaxNodes = 5000;
std::atomic<qint64> gWalkBudgetMs {ControlsReader::kWalkBudget.count()};
// A hung application must not stall a screen reading for long.
constexpr gint kCallTimeoutMs = 400;
constexpr gint kStartupMs = 2000;
// Toolkits mark one element focused; a few more are looked at, so that a password field among
// them is not missed.
constexpr gint kMaxFocusedMatches = 4;
constexpr std::chrono::milliseconds kFirstPatience {500};

// Root pixels per pixel of the application being walked, for the walk's duration (walks run on the
// one accessibility thread).
thread_local double tAppScale = 1.0;
// Where the application's own coordinates start, in root pixels: GTK 4 tells extents inside its
// window, not on the screen. And whether a node that is visible is also taken to be showing: GTK 4
// marks only its top-levels showing. For the walk's duration, as the scale.
thread_local QPointF tWindowOrigin;
thread_local bool tVisibleIsShowing = false;
// Calls of the walk under way that got no answer: what they would have told is missing. A call that
// times out (a busy application, a loaded machine) gives -1 or null, often with no error set.
thread_local int tUnanswered = 0;

// The deadline of the focused-field lookup under way on this thread, if one is, and how long one
// of its calls may wait for an answer.
thread_local std::optional<QDeadlineTimer> tLookup;
thread_local qint64 tPatienceMs = 0;

// Before each call of a lookup: lets the call wait as long as the lookup's patience, never past the
// deadline; false once the deadline has passed. Outside a lookup calls keep the screen reading's
// short time-out.
bool patient()
{
    if (!tLookup)
        return true;
    const qint64 left = tLookup->remainingTime();
    if (left == 0)
        return false;
    atspi_set_timeout(static_cast<gint>(left < 0 ? tPatienceMs : std::min(left, tPatienceMs)), kStartupMs);
    return true;
}

// Whether a call that came back empty-handed after `waited` ms ran out of time rather than being
// told "none": libatspi answers some such calls with nothing at all.
bool ranOut(qint64 waited)
{
    if (!tLookup)
        return false;
    const qint64 left = tLookup->remainingTime();
    const qint64 allowed = left < 0 ? tPatienceMs : std::min(tPatienceMs, waited + left);
    return waited + 20 >= allowed;
}

// Whether a call that came back empty-handed after `waited` ms ran out of its time-out rather than
// being told "none": libatspi gives an empty answer then, often with no error set.
bool waitedOut(qint64 waited)
{
    return tLookup ? ranOut(waited) : waited + 20 >= kCallTimeoutMs;
}

// Outside a lookup: the screen reading's calls may wait for an answer as long as what is left of
// its budget, and at least the call time-out. A busy application answers late but answers; a hung
// one ends the reading at its budget all the same.
void allowUntil(const QDeadlineTimer& deadline)
{
    if (tLookup)
        return;
    const qint64 left = deadline.remainingTime();
    atspi_set_timeout(static_cast<gint>(std::max<qint64>(kCallTimeoutMs, left < 0 ? kCallTimeoutMs : left)), kStartupMs);
}

struct Lookup {
    explicit Lookup(QDeadlineTimer deadline) { tLookup = deadline; }
    ~Lookup()
    {
        tLookup.reset();
        atspi_set_timeout(kCallTimeoutMs, kStartupMs);
    }
    Lookup(const Lookup&) = delete;
    Lookup& operator=(const Lookup&) = delete;
};

// libatspi dispatches on a GLib main context; the default one is iterated by Qt's main thread, so
// it gets a private one that only this thread iterates.
GMainContext* gContext = nullptr;

// What the bus told since the last focused-field check, in the order it told it: an element took the
// focus or lost it, or changed its role or whether it is editable. Accessibility thread only.
struct FocusEvent {
    enum Kind { gained, lost, changed };
    QString element;
    Kind kind;
    // Its place among all the events told.
    quint64 at;
};
std::vector<FocusEvent> gFocusEvents;
bool gFocusEventsOverflowed = false;
constexpr size_t kMaxFocusEvents = 256;
quint64 gEventsTold = 0;

// The element the keys go to, and what it told of text it took: the first time since the last look
// (0: not since), whether it ever did, and whether a wait for it already went unanswered.
// Accessibility thread only.
struct Watched {
    QString element;
    quint64 tookSinceLook = 0;
    bool tells = false;
    bool waited = false;
    // The text it told it took since the last focused-field check, as it stands in the element: the
    // stretch from where the first insertion went, edited as the element tells of insertions and
    // deletions (a page swaps a typed space for a no-break one, then back once a letter follows).
    // Unknown once an edit falls outside that stretch.
    QList<uint> taken;
    std::optional<gint> takenFrom;
    bool takenUnknown = false;
};
Watched gWatched;
constexpr const char* kTextInserted = "object:text-changed:insert";
constexpr const char* kTextDeleted = "object:text-changed:delete";

// Elements seen as password fields, by address, oldest first: one stays one for as long as it
// exists, whatever role it reports later. Accessibility thread only.
std::deque<QString> gSecrets;

QString addressOf(AtspiAccessible* node)
{
    const AtspiObject* object = ATSPI_OBJECT(node);
    if (!object->app || !object->app->bus_name || !object->path)
        return {};
    return QString::fromUtf8(object->app->bus_name) + QLatin1Char(':') + QString::fromUtf8(object->path);
}

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Owned = std::unique_ptr<AtspiAccessible, Unref>;

// What each application told of its focus, by its bus name (unique names are never reused on a
// bus): the elements that took the focus, newest last, each once, so that where the focus is is
// found without a walk and the element a menu took the focus from can be found. Accessibility
// thread only; an application that closes leaves its record until the next one comes.
struct FocusRecord {
    std::vector<Owned> taken;
    // The newest has not been told to have lost the focus since.
    bool held = false;
};
std::map<std::string, FocusRecord> gFocusTaken;
constexpr size_t kMaxFocusTaken = 64;
// Enough for a menu bar's menus and their entries walked through one by one, back to the field.
constexpr size_t kFocusHistory = 32;

bool seenSecret(const QString& address)
{
    return !address.isEmpty() && std::find(gSecrets.begin(), gSecrets.end(), address) != gSecrets.end();
}

void rememberSecret(const QString& address)
{
    if (address.isEmpty() || seenSecret(address))
        return;
    if (gSecrets.size() >= static_cast<size_t>(ControlsReader::kMaxSecretElements))
        gSecrets.pop_front();
    gSecrets.push_back(address);
}

// Whether an element with `role` at `address` takes secret text, by what it says now or said once.
bool secretElement(const QString& address, AtspiRole role)
{
    if (role == ATSPI_ROLE_PASSWORD_TEXT) {
        rememberSecret(address);
        return true;
    }
    return seenSecret(address);
}

void recordFocusTaken(const AtspiEvent* event)
{
    const AtspiObject* object = ATSPI_OBJECT(event->source);
    if (!object->app || !object->app->bus_name || !object->path)
        return;
    const std::string bus = object->app->bus_name;
    const auto same = [object](const Owned& each) { return std::strcmp(ATSPI_OBJECT(each.get())->path, object->path) == 0; };
    if (event->detail1 != 0) {
        if (gFocusTaken.size() >= kMaxFocusTaken && !gFocusTaken.count(bus))
            gFocusTaken.clear();
        FocusRecord& record = gFocusTaken[bus];
        std::erase_if(record.taken, same);
        if (record.taken.size() >= kFocusHistory)
            record.taken.erase(record.taken.begin());
        record.taken.emplace_back(static_cast<AtspiAccessible*>(g_object_ref(event->source)));
        record.held = true;
        return;
    }
    const auto found = gFocusTaken.find(bus);
    if (found != gFocusTaken.end() && !found->second.taken.empty() && same(found->second.taken.back()))
        found->second.held = false;
}

// What the watched element told it took, to be set against what was typed. Offsets count
// characters, as the text's code points.
void takeInserted(const AtspiEvent* event)
{
    const gchar* text = G_VALUE_HOLDS_STRING(&event->any_data) ? g_value_get_string(&event->any_data) : nullptr;
    const QList<uint> points = QString::fromUtf8(text ? text : "").toUcs4();
    if (!gWatched.takenFrom)
        gWatched.takenFrom = event->detail1;
    const qsizetype at = event->detail1 - *gWatched.takenFrom;
    if (at < 0 || at > gWatched.taken.size()) {
        gWatched.takenUnknown = true;
        return;
    }
    for (qsizetype i = 0; i < points.size(); ++i)
        gWatched.taken.insert(at + i, points[i]);
}

void takeDeleted(const AtspiEvent* event)
{
    if (!gWatched.takenFrom || event->detail2 <= 0)
        return;
    // Before the stretch: it only moves.
    if (event->detail1 + event->detail2 <= *gWatched.takenFrom) {
        *gWatched.takenFrom -= event->detail2;
        return;
    }
    const qsizetype at = event->detail1 - *gWatched.takenFrom;
    if (at < 0 || at + event->detail2 > gWatched.taken.size()) {
        gWatched.takenUnknown = true;
        return;
    }
    gWatched.taken.remove(at, event->detail2);
}

void forgetTaken()
{
    gWatched.taken.clear();
    gWatched.takenFrom.reset();
    gWatched.takenUnknown = false;
}

void onFocusEvent(const AtspiEvent* event)
{
    if (!event || !event->source || !event->type)
        return;
    ++gEventsTold;
    if (g_str_has_prefix(event->type, kTextDeleted)) {
        if (!gWatched.element.isEmpty() && addressOf(event->source) == gWatched.element)
            takeDeleted(event);
        return;
    }
    if (g_str_has_prefix(event->type, kTextInserted)) {
        if (gWatched.element.isEmpty() || addressOf(event->source) != gWatched.element)
            return;
        gWatched.tells = true;
        takeInserted(event);
        if (gWatched.tookSinceLook == 0)
            gWatched.tookSinceLook = gEventsTold;
        return;
    }
    const bool focus = g_str_has_prefix(event->type, "object:state-changed:focused");
    if (focus)
        recordFocusTaken(event);
    if (gFocusEvents.size() >= kMaxFocusEvents) {
        gFocusEventsOverflowed = true;
        return;
    }
    FocusEvent::Kind kind = FocusEvent::changed;
    if (focus)
        kind = event->detail1 != 0 ? FocusEvent::gained : FocusEvent::lost;
    gFocusEvents.push_back(FocusEvent {addressOf(event->source), kind, gEventsTold});
}

bool ready()
{
    static const bool ok = [] {
        gContext = g_main_context_new();
        if (!startAccessibilityBus(gContext))
            return false;
        atspi_set_timeout(kCallTimeoutMs, kStartupMs);
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

// Focus events told before a focused-field check are about before it.
void forgetFocusEvents()
{
    gFocusEvents.clear();
    gFocusEventsOverflowed = false;
    gWatched.tookSinceLook = 0;
    forgetTaken();
}

// Text a field took tells where a key landed. Terminals and pages tell of text all day, and events
// nobody reads wait on the bus, so these are asked for only around typing. Accessibility thread.
bool gTextFollowed = false;

void followText(bool on)
{
    if (on == gTextFollowed || !ready())
        return;
    for (const char* type : {kTextInserted, kTextDeleted}) {
        GError* error = nullptr;
        if (on)
            atspi_event_listener_register_no_data(onFocusEvent, nullptr, type, &error);
        else
            atspi_event_listener_deregister_no_data(onFocusEvent, type, &error);
        if (error)
            logline::warning(QStringLiteral("controls: text events unavailable: %1").arg(QString::fromUtf8(error->message)));
        g_clear_error(&error);
    }
    gTextFollowed = on;
    while (g_main_context_iteration(gContext, FALSE)) {
    }
}

// Main thread: text events are followed from a focused-field check until the keys have been quiet
// for a while.
void followTextForAWhile()
{
    static QTimer* quiet = [] {
        auto* timer = new QTimer(QCoreApplication::instance());
        timer->setSingleShot(true);
        timer->setInterval(std::chrono::seconds(15));
        QObject::connect(timer, &QTimer::timeout, [] { ControlsReader::pool()->start([] { followText(false); }); });
        return timer;
    }();
    if (!quiet->isActive())
        ControlsReader::pool()->start([] { followText(true); });
    quiet->start();
}

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
    const QRectF pixels(tWindowOrigin.x() + rect->x * tAppScale, tWindowOrigin.y() + rect->y * tAppScale,
                        rect->width * tAppScale, rect->height * tAppScale);
    g_free(rect);
    if (pixels.width() <= 0 || pixels.height() <= 0)
        return std::nullopt;
    return geometry.toPoints(pixels);
}

// Where a control is on the display, in points: none when it takes no room there; `unknown` when
// the application did not tell, for want of an answer or because it has not placed the control yet
// (it says -1 for everything then, as a browser does right after it starts).
struct Place {
    std::optional<QRectF> rect;
    bool unknown = false;
};

Place placeOf(AtspiAccessible* node, const DisplayGeometry& geometry)
{
    QElapsedTimer asking;
    asking.start();
    AtspiComponent* component = atspi_accessible_get_component_iface(node);
    if (!component)
        return Place {std::nullopt, waitedOut(asking.elapsed())};
    GError* error = nullptr;
    AtspiRect* rect = atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error);
    g_object_unref(component);
    const bool failed = error || !rect;
    g_clear_error(&error);
    if (failed || (rect->x == -1 && rect->y == -1 && rect->width == -1 && rect->height == -1)) {
        g_free(rect);
        return Place {std::nullopt, true};
    }
    const QRectF pixels(tWindowOrigin.x() + rect->x * tAppScale, tWindowOrigin.y() + rect->y * tAppScale,
                        rect->width * tAppScale, rect->height * tAppScale);
    g_free(rect);
    if (pixels.width() <= 0 || pixels.height() <= 0)
        return {};
    return Place {geometry.toPoints(pixels)};
}

// The kind of control a screen reading lists a node as. An element that takes typed text is a
// text field whatever its role (a page's editable area is a "section"); the blocks inside such an
// area are editable too but take no focus of their own, and are no fields.
QString controlKind(AtspiRole role, AtspiStateSet* states)
{
    QString kind = kindOf(role, states);
    if (kind.isEmpty() && atspi_state_set_contains(states, ATSPI_STATE_EDITABLE)
        && atspi_state_set_contains(states, ATSPI_STATE_FOCUSABLE))
        kind = QStringLiteral("textfield");
    return kind;
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

// A control's name; one that came back empty for want of an answer leaves the reading incomplete.
QString labelOf(AtspiAccessible* node)
{
    QElapsedTimer asking;
    asking.start();
    QString name = nameOf(node);
    if (name.isEmpty() && waitedOut(asking.elapsed()))
        ++tUnanswered;
    return name;
}

// The application's top-level accessible that is one of `windows`, and the application's scale:
// how many root pixels one of its own pixels makes. What it reports for a top-level is set against
// where that window really is on the root; some toolkits report a window's frame (with the window
// manager's decoration), some its client area, so both are tried. Failing that and asked `byName`,
// the one top-level named as the only window's title is taken, with no scale learnt. None when
// nothing fits; calls that got no answer are counted.
struct Fit {
    Owned topLevel;
    std::optional<double> scale;
};

std::optional<Fit> fitTopLevel(AtspiAccessible* app, const QList<X11Display::PlacedWindow>& windows, bool byName = false)
{
    if (windows.isEmpty() || !patient())
        return std::nullopt;
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(app, &error);
    if (error || count < 0)
        ++tUnanswered;
    g_clear_error(&error);
    std::vector<Owned> tops;
    for (gint i = 0; i < count && i < 16 && patient(); ++i) {
        Owned top(atspi_accessible_get_child_at_index(app, i, &error));
        g_clear_error(&error);
        if (!top) {
            ++tUnanswered;
            continue;
        }
        AtspiComponent* component = atspi_accessible_get_component_iface(top.get());
        if (!component) {
            tops.push_back(std::move(top));
            continue;
        }
        AtspiRect* rect = patient() ? atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error) : nullptr;
        g_object_unref(component);
        g_clear_error(&error);
        if (!rect) {
            ++tUnanswered;
            continue;
        }
        const QRectF reported(rect->x, rect->y, rect->width, rect->height);
        g_free(rect);
        if (reported.width() < 20 || reported.height() < 20) {
            tops.push_back(std::move(top));
            continue;
        }
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
                    return Fit {std::move(top), scale};
            }
        }
        tops.push_back(std::move(top));
    }
    if (!byName || windows.size() != 1 || windows.front().title.isEmpty())
        return std::nullopt;
    std::optional<Fit> named;
    for (Owned& top : tops) {
        if (!patient())
            return std::nullopt;
        if (nameOf(top.get()) != windows.front().title.simplified())
            continue;
        if (named)
            return std::nullopt;
        named = Fit {std::move(top), std::nullopt};
    }
    return named;
}

std::optional<double> appScale(AtspiAccessible* app, qint64 pid)
{
    X11Display display;
    if (!display)
        return std::nullopt;
    const std::optional<Fit> fit = fitTopLevel(app, display.windowsOf(pid));
    return fit ? fit->scale : std::nullopt;
}

// The scale an application was last seen at: a walk whose own look at the windows got no answer
// still converts with it. `learn` false takes a scale already known as it is.
double scaleFor(AtspiAccessible* app, qint64 pid, bool learn = true)
{
    thread_local std::map<qint64, double> known;
    const auto found = known.find(pid);
    if (!learn && found != known.end())
        return found->second;
    const int before = tUnanswered;
    if (const std::optional<double> learned = appScale(app, pid)) {
        if (known.size() > 64)
            known.clear();
        known[pid] = *learned;
        return *learned;
    }
    if (found != known.end()) {
        tUnanswered = before;
        return found->second;
    }
    return 1.0;
}

// A node's states, or null when the call got no answer: libatspi gives an empty set then, which
// would read as a node not showing, passed over with everything below it.
AtspiStateSet* statesOf(AtspiAccessible* node)
{
    QElapsedTimer asking;
    asking.start();
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    if (states && atspi_state_set_is_empty(states) && waitedOut(asking.elapsed())) {
        g_object_unref(states);
        return nullptr;
    }
    return states;
}

// libatspi talks to an application that offers it over a connection of its own, opened when the
// application's first answer comes and handed to the default main context, which Qt's main thread
// iterates. That thread would then take the answers meant for the calls made here, each of which
// waits out its time-out and fails although the application answered: the connection is moved to
// this thread's context, while that thread is not reading it.
void moveConnectionHere(DBusConnection* bus)
{
    whileMainContextRests([&] { atspi_dbus_connection_setup_with_g_main(bus, gContext); },
                          std::chrono::milliseconds(300));
}

// Keeps the connection to `node`'s application on this thread's context. Unique bus names are
// never reused; a connection's address may be, once it is closed.
void keepConnectionHere(AtspiAccessible* node)
{
    static DBusConnection* const shared = [] {
        const Owned desktop(atspi_get_desktop(0));
        return desktop ? ATSPI_OBJECT(desktop.get())->app->bus : nullptr;
    }();
    thread_local std::map<std::string, DBusConnection*> moved;
    const AtspiObject* object = ATSPI_OBJECT(node);
    if (!gContext || !object->app || !object->app->bus || !object->app->bus_name || object->app->bus == shared)
        return;
    if (moved.size() > 256)
        std::erase_if(moved, [&](const auto& each) { return each.first != object->app->bus_name; });
    DBusConnection*& kept = moved[object->app->bus_name];
    if (kept == object->app->bus)
        return;
    moveConnectionHere(object->app->bus);
    kept = object->app->bus;
}

// The first answer of an application not yet talked to over its own connection: one call to it,
// so that the connection is opened now, and kept here before the walk's calls go over it.
void settleConnection(AtspiAccessible* app, AtspiAccessible* desktop)
{
    thread_local std::set<std::string> settled;
    const AtspiObject* object = ATSPI_OBJECT(app);
    if (object->app && object->app->bus_name && object->app->bus == ATSPI_OBJECT(desktop)->app->bus
        && settled.insert(object->app->bus_name).second) {
        if (settled.size() > 256)
            settled = {object->app->bus_name};
        GError* error = nullptr;
        atspi_accessible_get_child_count(app, &error);
        g_clear_error(&error);
    }
    keepConnectionHere(app);
}

// An application's events come over the shared bus, in the order it sent them, and so do its
// answers to calls made over that bus (the look's own calls take the application's own connection,
// which may overtake them): once it has answered one there, every event it sent before is here, and
// is handled now, so that none of them is read as news after the look. An application that does
// not answer in time is looked at all the same.
void catchUpWith(const std::vector<Owned>& apps)
{
    DBusConnection* bus = atspi_get_a11y_bus();
    for (const Owned& app : apps) {
        const AtspiObject* object = ATSPI_OBJECT(app.get());
        if (!bus || !object->app || !object->app->bus_name || !patient())
            continue;
        DBusMessage* ping = dbus_message_new_method_call(object->app->bus_name, "/org/a11y/atspi/accessible/root",
                                                         "org.freedesktop.DBus.Peer", "Ping");
        if (!ping)
            continue;
        // A loaded bus is slow to answer, but answers.
        const qint64 left = tLookup ? tLookup->remainingTime() : -1;
        const qint64 patience = left < 0 ? ControlsReader::kCallPatience.count()
                                         : std::min<qint64>(left, ControlsReader::kCallPatience.count());
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(bus, ping, static_cast<int>(std::max<qint64>(1, patience)), &error);
        dbus_message_unref(ping);
        if (reply)
            dbus_message_unref(reply);
        dbus_error_free(&error);
    }
    while (g_main_context_iteration(gContext, FALSE)) {
    }
}

// How a walk ended: the application was not on the bus (or there is no bus), every showing node
// was visited, the visitor stopped it, or a node, depth or time limit cut it short (or a node did
// not answer, so what lies below it is unknown).
enum class Walked { noApp, whole, stopped, limited };

using Visit = std::function<bool(AtspiAccessible*, AtspiRole, AtspiStateSet*)>;

// Visits showing nodes depth first in tree order, until `visit` returns false or a limit is
// reached. In a focused-field lookup a call left unanswered ends it: nothing more will be told in
// time.
struct Walk {
    QDeadlineTimer deadline;
    int nodes = 0;
    bool stop = false;
    bool limited = false;

    // The nodes below `root`.
    void from(AtspiAccessible* root, const Visit& visit) { descend(root, 0, visit); }

    void descend(AtspiAccessible* node, int depth, const Visit& visit)
    {
        int& unanswered = tUnanswered;
        const auto going = [&] {
            if (stop)
                return false;
            if (!deadline.hasExpired() && patient() && !(tLookup && unanswered > 0))
                return true;
            stop = true;
            limited = true;
            return false;
        };
        if (!going() || depth > kMaxDepth || ++nodes > kMaxNodes) {
            stop = true;
            limited = true;
            return;
        }
        keepConnectionHere(node);
        allowUntil(deadline);
        AtspiStateSet* states = statesOf(node);
        if (!states) {
            ++unanswered;
            return;
        }
        const bool showing = atspi_state_set_contains(states, ATSPI_STATE_SHOWING)
            || (tVisibleIsShowing && depth > 0 && atspi_state_set_contains(states, ATSPI_STATE_VISIBLE));
        GError* error = nullptr;
        const AtspiRole role = going() ? atspi_accessible_get_role(node, &error) : ATSPI_ROLE_INVALID;
        // Without its role a control would be passed over unseen.
        if (showing && (error || role == ATSPI_ROLE_INVALID))
            ++unanswered;
        g_clear_error(&error);
        if ((depth > 0 && !showing) || stop) {
            g_object_unref(states);
            return;
        }
        if (depth > 0 && !visit(node, role, states)) {
            stop = true;
            g_object_unref(states);
            return;
        }
        g_object_unref(states);
        if (!going())
            return;
        const gint count = atspi_accessible_get_child_count(node, &error);
        if (error || count < 0)
            ++unanswered;
        g_clear_error(&error);
        for (gint i = 0; i < count && going(); ++i) {
            Owned child(atspi_accessible_get_child_at_index(node, i, &error));
            if (error || !child)
                ++unanswered;
            g_clear_error(&error);
            if (child)
                descend(child.get(), depth + 1, visit);
        }
    }

    Walked verdict() const
    {
        if (limited)
            return Walked::limited;
        if (stop)
            return Walked::stopped;
        return tUnanswered > 0 ? Walked::limited : Walked::whole;
    }
};

// The applications on the bus with process id `pid` (one, as a rule). The registry's list changes
// as programs come and go; calls that got no answer are counted.
std::vector<Owned> appsOf(qint64 pid)
{
    std::vector<Owned> found;
    Owned desktop(atspi_get_desktop(0));
    if (!desktop)
        return found;
    atspi_accessible_clear_cache(desktop.get());
    GError* error = nullptr;
    const gint apps = patient() ? atspi_accessible_get_child_count(desktop.get(), &error) : 0;
    if (error || apps < 0)
        ++tUnanswered;
    g_clear_error(&error);
    for (gint i = 0; i < apps && patient(); ++i) {
        Owned app(atspi_accessible_get_child_at_index(desktop.get(), i, &error));
        g_clear_error(&error);
        if (!app) {
            ++tUnanswered;
            continue;
        }
        const guint appPid = atspi_accessible_get_process_id(app.get(), &error);
        if (error)
            ++tUnanswered;
        g_clear_error(&error);
        if (static_cast<qint64>(appPid) == pid) {
            settleConnection(app.get(), desktop.get());
            found.push_back(std::move(app));
        } else {
            // Its answers, to calls libatspi makes of its own, are handled here too.
            keepConnectionHere(app.get());
        }
    }
    return found;
}

// The showing elements of the application behind `collection` that match `states` (all of them)
// and one of `roles` (any role when none), in tree order, found by the application itself in one
// call that may take what is left of `deadline`; null when that call failed.
GArray* matching(AtspiCollection* collection, AtspiStateSet* states, const std::vector<AtspiRole>& roles,
                 QDeadlineTimer deadline)
{
    GArray* wanted = nullptr;
    if (!roles.empty()) {
        wanted = g_array_new(FALSE, FALSE, sizeof(AtspiRole));
        for (AtspiRole role : roles)
            g_array_append_val(wanted, role);
    }
    AtspiMatchRule* rule = atspi_match_rule_new(states, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE,
                                                wanted, wanted ? ATSPI_Collection_MATCH_ANY : ATSPI_Collection_MATCH_NONE,
                                                nullptr, ATSPI_Collection_MATCH_NONE, FALSE);
    if (wanted)
        g_array_free(wanted, TRUE);
    const qint64 left = deadline.remainingTime();
    atspi_set_timeout(static_cast<gint>(std::max<qint64>(kCallTimeoutMs, left < 0 ? kCallTimeoutMs : left)), kStartupMs);
    GError* error = nullptr;
    GArray* found = atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                 ControlsReader::kMaxControls + 1, TRUE, &error);
    allowUntil(deadline);
    g_object_unref(rule);
    if (error && found) {
        for (guint i = 0; i < found->len; ++i)
            g_object_unref(g_array_index(found, AtspiAccessible*, i));
        g_array_free(found, TRUE);
        found = nullptr;
    }
    g_clear_error(&error);
    return found;
}

// A page the browser shows but is still building the tree of.
bool pageUnread(AtspiRole role, AtspiStateSet* states)
{
    return role == ATSPI_ROLE_DOCUMENT_WEB && atspi_state_set_contains(states, ATSPI_STATE_BUSY);
}

// The controls of `app` as the application itself finds them: one call for the elements of a
// control's role, one for the elements that take typed text whatever their role (listed after
// them), then each one's role, instead of calls for every node of the tree, which a busy machine
// makes slow. False when the application offers no such search or did not answer it.
bool visitMatches(AtspiAccessible* app, Walk& walking, const Visit& visit)
{
    AtspiCollection* collection = atspi_accessible_get_collection_iface(app);
    if (!collection)
        return false;
    static const std::vector<AtspiRole> controlRoles = [] {
        std::vector<AtspiRole> roles;
        AtspiStateSet* none = atspi_state_set_new(nullptr);
        // Text elements are controls only when editable: the second search finds those.
        for (int role = ATSPI_ROLE_INVALID + 1; role < ATSPI_ROLE_LAST_DEFINED; ++role)
            if (role != ATSPI_ROLE_TEXT && !kindOf(static_cast<AtspiRole>(role), none).isEmpty())
                roles.push_back(static_cast<AtspiRole>(role));
        g_object_unref(none);
        return roles;
    }();
    AtspiStateSet* showing = atspi_state_set_new(nullptr);
    atspi_state_set_add(showing, ATSPI_STATE_SHOWING);
    AtspiStateSet* typing = atspi_state_set_new(nullptr);
    for (AtspiStateType state : {ATSPI_STATE_SHOWING, ATSPI_STATE_EDITABLE, ATSPI_STATE_FOCUSABLE})
        atspi_state_set_add(typing, state);
    GArray* byRole = matching(collection, showing, controlRoles, walking.deadline);
    GArray* byTyping = byRole ? matching(collection, typing, {}, walking.deadline) : nullptr;
    GArray* pages = byTyping ? matching(collection, showing, {ATSPI_ROLE_DOCUMENT_WEB}, walking.deadline) : nullptr;
    g_object_unref(collection);
    bool done = false;
    if (byRole && byTyping && pages) {
        done = true;
        std::set<AtspiAccessible*> seen;
        // Pages are visited with the states they tell, to learn whether they are read yet.
        using Group = std::pair<GArray*, AtspiStateSet*>;
        for (const auto& [found, states] : {Group {byRole, showing}, Group {byTyping, typing}, Group {pages, nullptr}}) {
            for (guint i = 0; i < found->len; ++i) {
                const Owned node(g_array_index(found, AtspiAccessible*, i));
                if (walking.stop || !node || !seen.insert(node.get()).second)
                    continue;
                // A control the first search did not find showing: the page was still being laid
                // out between the two, and more of it may be missing.
                const bool late = found == byTyping;
                if (walking.deadline.hasExpired()) {
                    walking.stop = true;
                    walking.limited = true;
                    continue;
                }
                ++walking.nodes;
                keepConnectionHere(node.get());
                allowUntil(walking.deadline);
                GError* error = nullptr;
                const AtspiRole role = atspi_accessible_get_role(node.get(), &error);
                const bool told = !error && role != ATSPI_ROLE_INVALID;
                g_clear_error(&error);
                AtspiStateSet* said = states ? static_cast<AtspiStateSet*>(g_object_ref(states)) : statesOf(node.get());
                if (told && late && std::find(controlRoles.begin(), controlRoles.end(), role) != controlRoles.end())
                    walking.limited = true;
                if (!told || !said)
                    ++tUnanswered;
                else if (!visit(node.get(), role, said))
                    walking.stop = true;
                if (said)
                    g_object_unref(said);
            }
        }
    }
    for (GArray* found : {byRole, byTyping, pages}) {
        if (!found)
            continue;
        // What the visit did not take.
        if (!done)
            for (guint i = 0; i < found->len; ++i)
                g_object_unref(g_array_index(found, AtspiAccessible*, i));
        g_array_free(found, TRUE);
    }
    g_object_unref(showing);
    g_object_unref(typing);
    return done;
}

// Whether the application is GTK 4: it tells extents inside its windows and marks only its
// top-levels showing.
bool windowRelative(AtspiAccessible* app)
{
    GError* error = nullptr;
    gchar* name = atspi_accessible_get_toolkit_name(app, &error);
    g_clear_error(&error);
    gchar* version = name && std::strcmp(name, "GTK") == 0 ? atspi_accessible_get_toolkit_version(app, &error) : nullptr;
    g_clear_error(&error);
    const bool four = version && g_str_has_prefix(version, "4.");
    g_free(name);
    g_free(version);
    return four;
}

// A showing top-level of a GTK 4 application and the window it is, with the window's scale and
// where its client area starts.
struct Placed {
    Owned topLevel;
    double scale = 1.0;
    QPointF origin;
};

// The application's showing top-levels that are one of `windows`, told apart by their size at a
// scale (they all say they are at 0,0), and by title when sizes alike leave a doubt.
std::vector<Placed> placeTopLevels(AtspiAccessible* app, const QList<X11Display::PlacedWindow>& windows)
{
    std::vector<Placed> placed;
    if (windows.isEmpty() || !patient())
        return placed;
    GError* error = nullptr;
    const gint count = atspi_accessible_get_child_count(app, &error);
    if (error || count < 0)
        ++tUnanswered;
    g_clear_error(&error);
    for (gint i = 0; i < count && i < 16 && patient(); ++i) {
        Owned top(atspi_accessible_get_child_at_index(app, i, &error));
        g_clear_error(&error);
        if (!top) {
            ++tUnanswered;
            continue;
        }
        AtspiStateSet* states = atspi_accessible_get_state_set(top.get());
        const bool showing = states && atspi_state_set_contains(states, ATSPI_STATE_SHOWING);
        if (states)
            g_object_unref(states);
        AtspiComponent* component = showing ? atspi_accessible_get_component_iface(top.get()) : nullptr;
        if (!component)
            continue;
        AtspiRect* rect = patient() ? atspi_component_get_extents(component, ATSPI_COORD_TYPE_WINDOW, &error) : nullptr;
        g_object_unref(component);
        g_clear_error(&error);
        if (!rect) {
            ++tUnanswered;
            continue;
        }
        const QSizeF reported(rect->width, rect->height);
        g_free(rect);
        if (reported.width() < 20 || reported.height() < 20)
            continue;
        const QString name = nameOf(top.get());
        const X11Display::PlacedWindow* fit = nullptr;
        double fitScale = 1.0;
        int fits = 0;
        for (const auto& window : windows) {
            const double scale = std::round(window.client.width() / reported.width() * 20.0) / 20.0;
            if (scale < 0.5 || scale > 4.0 || std::abs(reported.height() * scale - window.client.height()) > 2.0 + scale)
                continue;
            ++fits;
            if (!fit || window.title.simplified() == name) {
                fit = &window;
                fitScale = scale;
            }
        }
        if (fit && (fits == 1 || fit->title.simplified() == name))
            placed.push_back(Placed {std::move(top), fitScale, QPointF(fit->client.topLeft())});
    }
    return placed;
}

// Walks each of a GTK 4 application's windows from its top-level, in the window's own place and
// scale.
void walkWindows(AtspiAccessible* app, qint64 pid, Walk& walking, const Visit& visit)
{
    QList<X11Display::PlacedWindow> windows;
    {
        X11Display display;
        if (display)
            windows = display.windowsOf(pid);
    }
    for (Placed& each : placeTopLevels(app, windows)) {
        if (walking.stop)
            break;
        tAppScale = each.scale;
        tWindowOrigin = each.origin;
        tVisibleIsShowing = true;
        walking.descend(each.topLevel.get(), 1, visit);
        tAppScale = 1.0;
        tWindowOrigin = {};
        tVisibleIsShowing = false;
    }
}

// Visits the showing nodes of the application with process id `pid`, depth first in tree order,
// until `visit` returns false or a limit is reached.
Walked walk(qint64 pid, const Visit& visit)
{
    if (pid <= 0 || !ready())
        return Walked::noApp;
    QElapsedTimer clock;
    clock.start();
    tUnanswered = 0;
    Walk walking {QDeadlineTimer(gWalkBudgetMs.load())};
    allowUntil(walking.deadline);
    const struct Restore {
        ~Restore() { atspi_set_timeout(kCallTimeoutMs, kStartupMs); }
    } restore;
    const std::vector<Owned> apps = appsOf(pid);
    // An application that did not answer may be the one asked for.
    if (apps.empty())
        return tUnanswered > 0 ? Walked::limited : Walked::noApp;
    for (const Owned& app : apps) {
        if (walking.stop)
            break;
        if (windowRelative(app.get())) {
            walkWindows(app.get(), pid, walking, visit);
            continue;
        }
        const int before = tUnanswered;
        tAppScale = scaleFor(app.get(), pid);
        // A scale never learned because the application did not answer would put every control
        // somewhere else: none is listed rather than one in the wrong place.
        if (tUnanswered > before) {
            walking.limited = true;
            tAppScale = 1.0;
            continue;
        }
        if (!visitMatches(app.get(), walking, visit))
            walking.from(app.get(), visit);
        tAppScale = 1.0;
    }
    if (walking.limited || (tUnanswered > 0 && !walking.stop))
        logline::info(QStringLiteral("controls: walk cut short after %1 ms, %2 nodes, %3 without an answer")
                          .arg(clock.elapsed())
                          .arg(walking.nodes)
                          .arg(tUnanswered));
    return walking.verdict();
}

// The parts of a closed drop-down (a page's <select>): the popup a combo box keeps its options in,
// the groups in it and the options. A browser tells them showing while it shows them nowhere
// (Firefox: the popup over the box and the chosen option without a place) or only as the box's
// text (Chromium: the chosen option inside the box). They are the box's value, not controls of
// their own, nor controls missing from the look. A combo box that does not tell whether it can
// open is never taken for closed: GTK 3 tells nothing when its popup is open. For one walk.
class DropDowns {
public:
    // The address of the closed drop-down that `node` is a part of, else empty.
    QString closedAround(AtspiAccessible* node, AtspiRole role)
    {
        if (!partRole(role))
            return {};
        return boxAbove(node, kMaxLevels);
    }

    // The option of a closed drop-down it tells showing is the one chosen.
    static bool option(AtspiRole role) { return role != ATSPI_ROLE_MENU && partRole(role); }

    // A drop-down's label as the look lists it: its name and the option chosen, either alone when
    // the other is unknown or the same.
    static QString labelled(const QString& name, const QString& value)
    {
        if (value.isEmpty() || value == name)
            return name;
        if (name.isEmpty())
            return value;
        return name + (name.endsWith(QLatin1Char(':')) ? QStringLiteral(" ") : QStringLiteral(": ")) + value;
    }

private:
    // Option, group and popup between an option and its box.
    static constexpr int kMaxLevels = 3;

    static bool partRole(AtspiRole role)
    {
        switch (role) {
        case ATSPI_ROLE_MENU:
        case ATSPI_ROLE_MENU_ITEM:
        case ATSPI_ROLE_CHECK_MENU_ITEM:
        case ATSPI_ROLE_RADIO_MENU_ITEM:
            return true;
        default:
            return false;
        }
    }

    // What a drop-down's popup, or a group of options in it, is.
    static bool holdsOptions(AtspiRole role)
    {
        return role == ATSPI_ROLE_MENU || role == ATSPI_ROLE_PANEL || role == ATSPI_ROLE_GROUPING;
    }

    // The closed box above `node`, climbing at most `levels` through what holds options. Each
    // element above is asked once per walk: a menu's items share their answer.
    QString boxAbove(AtspiAccessible* node, int levels)
    {
        GError* error = nullptr;
        const Owned up(atspi_accessible_get_parent(node, &error));
        g_clear_error(&error);
        if (!up || levels <= 0)
            return {};
        const QString address = addressOf(up.get());
        if (address.isEmpty())
            return {};
        if (const auto known = m_boxes.find(address); known != m_boxes.end())
            return known->second;
        const AtspiRole role = atspi_accessible_get_role(up.get(), &error);
        g_clear_error(&error);
        QString box;
        if (role == ATSPI_ROLE_COMBO_BOX) {
            AtspiStateSet* states = statesOf(up.get());
            if (states && atspi_state_set_contains(states, ATSPI_STATE_EXPANDABLE)
                && !atspi_state_set_contains(states, ATSPI_STATE_EXPANDED))
                box = address;
            if (states)
                g_object_unref(states);
        } else if (holdsOptions(role)) {
            box = boxAbove(up.get(), levels - 1);
        }
        m_boxes.emplace(address, box);
        return box;
    }

    std::map<QString, QString> m_boxes;
};

// Where a password field stands in its page, to know it again when its application replaces its
// object: a browser whose page turns the field into a plain one ("Show password") drops the field's
// object and makes another. Kept by the page's document and the field's place below it.
// Accessibility thread only.
struct SecretPlace {
    QString document;
    QString place;
};
std::deque<SecretPlace> gSecretPlaces;

bool documentRole(AtspiRole role)
{
    return role == ATSPI_ROLE_DOCUMENT_WEB || role == ATSPI_ROLE_DOCUMENT_FRAME;
}

// The document an element lies in and its place there (the index of each element on the way
// down); none outside a document, and none with a call counted when one did not answer.
std::optional<SecretPlace> placeOf(AtspiAccessible* node)
{
    QStringList steps;
    Owned held;
    AtspiAccessible* at = node;
    for (int depth = 0; depth <= kMaxDepth; ++depth) {
        GError* error = nullptr;
        const gint index = patient() ? atspi_accessible_get_index_in_parent(at, &error) : -1;
        Owned parent(index >= 0 && patient() ? atspi_accessible_get_parent(at, &error) : nullptr);
        const bool failed = error != nullptr;
        g_clear_error(&error);
        if (failed)
            ++tUnanswered;
        if (failed || index < 0 || !parent)
            return std::nullopt;
        steps.prepend(QString::number(index));
        const AtspiRole role = patient() ? atspi_accessible_get_role(parent.get(), &error) : ATSPI_ROLE_INVALID;
        const bool told = !error && role != ATSPI_ROLE_INVALID;
        g_clear_error(&error);
        if (!told) {
            ++tUnanswered;
            return std::nullopt;
        }
        if (documentRole(role))
            return SecretPlace {addressOf(parent.get()), steps.join(QLatin1Char('/'))};
        if (role == ATSPI_ROLE_APPLICATION || role == ATSPI_ROLE_DESKTOP_FRAME)
            return std::nullopt;
        held = std::move(parent);
        at = held.get();
    }
    return std::nullopt;
}

void rememberSecretPlace(AtspiAccessible* node)
{
    const int before = tUnanswered;
    std::optional<SecretPlace> place = placeOf(node);
    // Missing, the place only leaves the field known by its object, as before.
    tUnanswered = before;
    if (!place)
        return;
    const auto same = [&](const SecretPlace& each) { return each.document == place->document && each.place == place->place; };
    if (std::any_of(gSecretPlaces.begin(), gSecretPlaces.end(), same))
        return;
    if (gSecretPlaces.size() >= static_cast<size_t>(ControlsReader::kMaxSecretElements))
        gSecretPlaces.pop_front();
    gSecretPlaces.push_back(std::move(*place));
}

// Whether a text field stands where a password field of the same application stood: the field
// whose object was replaced. Asked only in applications where one was seen.
bool replacedSecret(AtspiAccessible* node, AtspiRole role)
{
    if (role != ATSPI_ROLE_ENTRY && role != ATSPI_ROLE_TEXT)
        return false;
    const AtspiObject* object = ATSPI_OBJECT(node);
    if (!object->app || !object->app->bus_name)
        return false;
    const QString bus = QString::fromUtf8(object->app->bus_name) + QLatin1Char(':');
    if (std::none_of(gSecretPlaces.begin(), gSecretPlaces.end(),
                     [&](const SecretPlace& each) { return each.document.startsWith(bus); }))
        return false;
    const std::optional<SecretPlace> place = placeOf(node);
    if (!place)
        return false;
    const bool replaced = std::any_of(gSecretPlaces.begin(), gSecretPlaces.end(), [&](const SecretPlace& each) {
        return each.document == place->document && each.place == place->place;
    });
    // From now on known by its own object too.
    if (replaced)
        rememberSecret(addressOf(node));
    return replaced;
}

// What a text field lays out against what it holds. A field that hides its text behind dots shows
// other characters than it holds (GTK 4's entry with its visibility off says nothing else of it), so
// the whole first line is compared: text that begins with the mask character still differs further
// on. Text made only of one mask-like character, shown as held, tells nothing either way. A field
// that holds nothing shows no sign.
enum class Shown { asHeld, hidden, unclear, untold };

bool maskLike(uint point)
{
    switch (point) {
    case U'*':
    case 0x2022: // •
    case 0x2219: // ∙
    case 0x25CF: // ●
    case 0x26AB: // ⚫
    case 0x2731: // ✱
    case 0x273A: // ✺
        return true;
    default:
        return false;
    }
}

Shown textShown(AtspiAccessible* node)
{
    AtspiText* text = patient() ? atspi_accessible_get_text_iface(node) : nullptr;
    if (!text)
        return Shown::asHeld;
    QElapsedTimer asking;
    asking.start();
    GError* error = nullptr;
    AtspiTextRange* line = patient() ? atspi_text_get_string_at_offset(text, 0, ATSPI_TEXT_GRANULARITY_LINE, &error) : nullptr;
    const bool lineTold = line && !error;
    g_clear_error(&error);
    const QList<uint> shown = QString::fromUtf8(line && line->content ? line->content : "").toUcs4();
    if (line) {
        g_free(line->content);
        g_free(line);
    }
    Shown verdict = Shown::asHeld;
    if (!lineTold || (shown.isEmpty() && waitedOut(asking.elapsed()))) {
        verdict = Shown::untold;
    } else if (!shown.isEmpty()) {
        asking.restart();
        gchar* held = patient() ? atspi_text_get_text(text, 0, static_cast<gint>(shown.size()), &error) : nullptr;
        const bool heldTold = held && !error;
        g_clear_error(&error);
        const QList<uint> points = QString::fromUtf8(held ? held : "").toUcs4();
        g_free(held);
        if (!heldTold || (points.isEmpty() && waitedOut(asking.elapsed())))
            verdict = Shown::untold;
        else if (points != shown)
            verdict = Shown::hidden;
        else if (maskLike(shown.front()) && std::ranges::all_of(shown, [&](uint each) { return each == shown.front(); }))
            verdict = Shown::unclear;
    }
    g_object_unref(text);
    return verdict;
}

// Set when a field's text left the judgement unclear; whoever asks for the verdict clears it.
thread_local bool tTextUnclear = false;

// Whether an element takes secret text: the one judgement of a password field, for the focused
// field, a menu's opener and what lies under a point alike. An element once seen as a password
// field stays one, even when its application replaces its object.
bool passwordField(AtspiAccessible* node, AtspiRole role)
{
    const QString address = addressOf(node);
    const bool firstSeen = role == ATSPI_ROLE_PASSWORD_TEXT && !seenSecret(address);
    if (secretElement(address, role)) {
        if (firstSeen)
            rememberSecretPlace(node);
        return true;
    }
    if (role == ATSPI_ROLE_TEXT || role == ATSPI_ROLE_ENTRY) {
        const Shown shown = textShown(node);
        if (shown == Shown::hidden) {
            rememberSecret(address);
            rememberSecretPlace(node);
            return true;
        }
        // Refused, but not remembered: the text may yet tell.
        if (shown == Shown::unclear) {
            tTextUnclear = true;
            return true;
        }
    }
    return replacedSecret(node, role);
}

// The GTK 4 text field the last focused-field check found, judged again at every key: nothing on
// the bus tells when it starts to hide its text. Accessibility thread only.
struct GateEntry {
    QString element;
    Owned node;
};
GateEntry gGateEntry;

void keepForTheGate(AtspiAccessible* node, AtspiRole role, const ControlsReader::FocusedField& field)
{
    if (tVisibleIsShowing && role == ATSPI_ROLE_TEXT && field.checked && !field.secure)
        gGateEntry = GateEntry {field.element, Owned(static_cast<AtspiAccessible*>(g_object_ref(node)))};
    else if (gGateEntry.element == field.element)
        gGateEntry = GateEntry {};
}

// Whether the watched element, a GTK 4 text field, now hides its text: from then on it is a password
// field. What it did not answer in time is no verdict.
ControlsReader::Follow judgedAgain()
{
    using Follow = ControlsReader::Follow;
    if (gGateEntry.element.isEmpty() || gGateEntry.element != gWatched.element)
        return Follow::stays;
    switch (textShown(gGateEntry.node.get())) {
    case Shown::hidden:
        rememberSecret(gGateEntry.element);
        rememberSecretPlace(gGateEntry.node.get());
        return Follow::changed;
    case Shown::untold:
        return Follow::unknown;
    default:
        // Text of mask characters only, typed into a plain field, would look the same: the next
        // other character tells.
        return Follow::stays;
    }
}

// A menu, one of its entries, or a menu bar: an element the focus goes to from a field and back.
bool menuRole(AtspiRole role)
{
    switch (role) {
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_MENU_BAR:
    case ATSPI_ROLE_MENU_ITEM:
    case ATSPI_ROLE_CHECK_MENU_ITEM:
    case ATSPI_ROLE_RADIO_MENU_ITEM:
    case ATSPI_ROLE_POPUP_MENU:
    case ATSPI_ROLE_TEAROFF_MENU_ITEM:
        return true;
    default:
        return false;
    }
}

// The focused element's field from what was read of it: none when the element no longer has the
// focus, and none with a call counted unanswered when its role was not told. GTK's menus tell that
// they take the focus but never show it in their states: a menu the application `told` took the
// focus has it while it shows.
bool focusedIn(AtspiRole role, AtspiStateSet* states, bool told)
{
    const bool focused = atspi_state_set_contains(states, ATSPI_STATE_FOCUSED)
        || (told && menuRole(role) && atspi_state_set_contains(states, ATSPI_STATE_SHOWING));
    return focused && !atspi_state_set_contains(states, ATSPI_STATE_DEFUNCT);
}

// The elements the last focused-field check found focused, by address, to ask them again while
// the keys go. Accessibility thread only.
std::map<QString, Owned> gCheckedNodes;

std::optional<ControlsReader::FocusedField> fieldFrom(AtspiAccessible* node, AtspiRole role, AtspiStateSet* states,
                                                     const DisplayGeometry& geometry, bool told = false)
{
    if (!focusedIn(role, states, told))
        return std::nullopt;
    if (role == ATSPI_ROLE_INVALID) {
        ++tUnanswered;
        return std::nullopt;
    }
    ControlsReader::FocusedField field;
    field.checked = true;
    field.element = addressOf(node);
    if (gCheckedNodes.size() < 16)
        gCheckedNodes.try_emplace(field.element, static_cast<AtspiAccessible*>(g_object_ref(node)));
    tTextUnclear = false;
    field.secure = passwordField(node, role);
    // Text that may be the mask is no verdict on the field.
    field.checked = !std::exchange(tTextUnclear, false);
    keepForTheGate(node, role, field);
    if (menuRole(role))
        field.menuOpener = ControlsReader::FocusedField::Opener::unknown;
    field.editable = !field.secure && atspi_state_set_contains(states, ATSPI_STATE_EDITABLE);
    // Only where the character flies: a frame the deadline leaves no time for is done without.
    if (patient())
        field.frame = extentsOf(node, geometry);
    return field;
}

// The same, read afresh from the application; `said` takes the role it told.
std::optional<ControlsReader::FocusedField> fieldOf(AtspiAccessible* node, const DisplayGeometry& geometry,
                                                   bool told = false, AtspiRole* said = nullptr)
{
    if (!patient())
        return std::nullopt;
    // What the application says now, not what its events have told so far.
    atspi_accessible_clear_cache(node);
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    if (!states) {
        ++tUnanswered;
        return std::nullopt;
    }
    GError* error = nullptr;
    AtspiRole role = ATSPI_ROLE_INVALID;
    if ((told || atspi_state_set_contains(states, ATSPI_STATE_FOCUSED)) && patient())
        role = atspi_accessible_get_role(node, &error);
    if (error)
        role = ATSPI_ROLE_INVALID;
    g_clear_error(&error);
    auto field = fieldFrom(node, role, states, geometry, told);
    g_object_unref(states);
    if (said)
        *said = role;
    return field;
}

// The element the application last said took the focus, if it still has it. What is asked of an
// element that may be gone is no verdict on the application: its calls are not counted. `said`
// takes its role.
std::optional<ControlsReader::FocusedField> focusTold(AtspiAccessible* app, const DisplayGeometry& geometry,
                                                     AtspiRole* said)
{
    const AtspiObject* object = ATSPI_OBJECT(app);
    if (!object->app || !object->app->bus_name)
        return std::nullopt;
    const auto told = gFocusTaken.find(object->app->bus_name);
    if (told == gFocusTaken.end() || !told->second.held)
        return std::nullopt;
    const int before = tUnanswered;
    auto field = fieldOf(told->second.taken.back().get(), geometry, true, said);
    tUnanswered = before;
    return field;
}

// Whether the element a menu took the focus from is a password field: the newest element the
// application told to take the focus that is no part of a menu, so that a menu opened from the
// menu bar while the field had the focus counts as one opened from the field. An element that is
// gone is passed over (a closed menu's entries); one that did not answer in time leaves it unknown.
ControlsReader::FocusedField::Opener openerOf(AtspiAccessible* app)
{
    using Opener = ControlsReader::FocusedField::Opener;
    const AtspiObject* object = ATSPI_OBJECT(app);
    if (!object->app || !object->app->bus_name)
        return Opener::unknown;
    const auto told = gFocusTaken.find(object->app->bus_name);
    if (told == gFocusTaken.end())
        return Opener::unknown;
    const std::vector<Owned>& taken = told->second.taken;
    for (auto each = taken.rbegin(); each != taken.rend(); ++each) {
        if (!patient())
            return Opener::unknown;
        QElapsedTimer asking;
        asking.start();
        GError* error = nullptr;
        const AtspiRole role = atspi_accessible_get_role(each->get(), &error);
        const bool answered = !error && role != ATSPI_ROLE_INVALID;
        g_clear_error(&error);
        // The look is taken again, more patiently.
        if (!answered && ranOut(asking.elapsed())) {
            ++tUnanswered;
            return Opener::unknown;
        }
        if (!answered || menuRole(role))
            continue;
        return passwordField(each->get(), role) ? Opener::password : Opener::plain;
    }
    return Opener::unknown;
}

// Whether the application shows an open menu: a browser opens a page's context menu without
// moving the focus from the field it was opened on, as a child of its window or in a window of its
// own that becomes the active one. A menu is open when its entries show. Calls that got no answer
// are counted.
// The top-level (a child of the application) an element lies in; none when its parents are not told.
Owned topLevelOf(AtspiAccessible* node)
{
    Owned held(static_cast<AtspiAccessible*>(g_object_ref(node)));
    for (int depth = 0; depth <= kMaxDepth && patient(); ++depth) {
        GError* error = nullptr;
        Owned parent(atspi_accessible_get_parent(held.get(), &error));
        g_clear_error(&error);
        if (!parent)
            return {};
        const AtspiRole role = atspi_accessible_get_role(parent.get(), &error);
        g_clear_error(&error);
        if (role == ATSPI_ROLE_APPLICATION)
            return held;
        held = std::move(parent);
    }
    return {};
}

bool menuShowing(AtspiAccessible* app, const QString& field)
{
    // The field's own window is not searched below its children: a menu that shows there takes
    // the focus from the field (or is one of the window's children, as a browser's is).
    QString fieldTop;
    if (const AtspiObject* object = ATSPI_OBJECT(app); object->app && object->app->bus_name) {
        const auto told = gFocusTaken.find(object->app->bus_name);
        if (told != gFocusTaken.end() && !told->second.taken.empty()
            && addressOf(told->second.taken.back().get()) == field)
            if (const Owned top = topLevelOf(told->second.taken.back().get()))
                fieldTop = addressOf(top.get());
    }
    constexpr gint kMaxTopLevels = 16;
    constexpr int kMaxVisits = 48;
    constexpr int kMenuDepth = 5;
    const auto states = [](AtspiAccessible* node) -> std::optional<std::pair<bool, bool>> {
        AtspiStateSet* set = patient() ? atspi_accessible_get_state_set(node) : nullptr;
        if (!set) {
            ++tUnanswered;
            return std::nullopt;
        }
        const std::pair showingActive {static_cast<bool>(atspi_state_set_contains(set, ATSPI_STATE_SHOWING)),
                                       static_cast<bool>(atspi_state_set_contains(set, ATSPI_STATE_ACTIVE))};
        g_object_unref(set);
        return showingActive;
    };
    const auto childrenOf = [](AtspiAccessible* node, gint most) {
        std::vector<Owned> children;
        GError* error = nullptr;
        const gint count = patient() ? atspi_accessible_get_child_count(node, &error) : -1;
        if (error || count < 0)
            ++tUnanswered;
        g_clear_error(&error);
        for (gint i = 0; i < count && i < most && patient(); ++i) {
            Owned child(atspi_accessible_get_child_at_index(node, i, &error));
            if (error || !child)
                ++tUnanswered;
            g_clear_error(&error);
            if (child)
                children.push_back(std::move(child));
        }
        return children;
    };
    const auto openMenu = [&](AtspiAccessible* node) {
        GError* error = nullptr;
        const AtspiRole role = patient() ? atspi_accessible_get_role(node, &error) : ATSPI_ROLE_INVALID;
        if (error || role == ATSPI_ROLE_INVALID)
            ++tUnanswered;
        g_clear_error(&error);
        if (role != ATSPI_ROLE_MENU && role != ATSPI_ROLE_POPUP_MENU)
            return false;
        const auto own = states(node);
        if (!own || !own->first)
            return false;
        for (const Owned& entry : childrenOf(node, 4))
            if (const auto shows = states(entry.get()); shows && shows->first)
                return true;
        return false;
    };
    for (const Owned& top : childrenOf(app, kMaxTopLevels)) {
        const auto shown = states(top.get());
        if (!shown || !shown->first)
            continue;
        // The window's own children; below them only in the active window, where a menu takes
        // the keys.
        std::deque<std::pair<Owned, int>> queue;
        for (Owned& child : childrenOf(top.get(), kMaxVisits))
            queue.emplace_back(std::move(child), 1);
        for (int visits = 0; !queue.empty() && visits < kMaxVisits && tUnanswered == 0; ++visits) {
            auto [node, depth] = std::move(queue.front());
            queue.pop_front();
            if (openMenu(node.get()))
                return true;
            if (!shown->second || depth >= kMenuDepth || addressOf(top.get()) == fieldTop)
                continue;
            const auto below = states(node.get());
            if (!below || !below->first)
                continue;
            for (Owned& child : childrenOf(node.get(), kMaxVisits))
                queue.emplace_back(std::move(child), depth + 1);
        }
    }
    return false;
}

// How surely a focused element is where the keys go, of several the application marks focused.
// Chromium marks the documents of its hidden pop-ups focused too, documents that take no room,
// after the page's field in tree order; a browser may mark the document around the field.
int holdsFocusSurely(AtspiRole role, const ControlsReader::FocusedField& field)
{
    if (!documentRole(role) && role != ATSPI_ROLE_FRAME)
        return 2;
    return field.frame && !field.frame->isEmpty() ? 1 : 0;
}

// The application's own search for its focused elements, where it offers one. A password field
// among several focused elements decides; else the one that most surely holds the focus, the last
// in tree order (the innermost) of those alike.
std::optional<ControlsReader::FocusedField> focusSearched(AtspiAccessible* app, const DisplayGeometry& geometry)
{
    QElapsedTimer asking;
    asking.start();
    AtspiCollection* collection = patient() ? atspi_accessible_get_collection_iface(app) : nullptr;
    if (!collection) {
        // The application's list of what it offers did not come: it may well offer the search.
        if (ranOut(asking.elapsed()))
            ++tUnanswered;
        return std::nullopt;
    }
    AtspiStateSet* focused = atspi_state_set_new(nullptr);
    atspi_state_set_add(focused, ATSPI_STATE_FOCUSED);
    AtspiMatchRule* rule = atspi_match_rule_new(focused, ATSPI_Collection_MATCH_ALL, nullptr, ATSPI_Collection_MATCH_NONE,
                                                nullptr, ATSPI_Collection_MATCH_NONE, nullptr,
                                                ATSPI_Collection_MATCH_NONE, FALSE);
    g_object_unref(focused);
    GError* error = nullptr;
    GArray* matches = patient() ? atspi_collection_get_matches(collection, rule, ATSPI_Collection_SORT_ORDER_CANONICAL,
                                                               kMaxFocusedMatches, TRUE, &error)
                                : nullptr;
    g_object_unref(rule);
    g_object_unref(collection);
    if (error || !matches)
        ++tUnanswered;
    g_clear_error(&error);
    if (!matches)
        return std::nullopt;
    std::optional<ControlsReader::FocusedField> field;
    int surely = -1;
    for (guint i = 0; i < matches->len; ++i) {
        Owned match(g_array_index(matches, AtspiAccessible*, i));
        if (!match || (field && field->secure))
            continue;
        AtspiRole role = ATSPI_ROLE_INVALID;
        auto each = fieldOf(match.get(), geometry, false, &role);
        if (!each)
            continue;
        const int sure = holdsFocusSurely(role, *each);
        if (each->secure || sure >= surely) {
            field = std::move(each);
            surely = sure;
        }
    }
    g_array_free(matches, TRUE);
    return field;
}

// A walk of the active window's subtree (of the whole application when no top-level fits it).
std::optional<ControlsReader::FocusedField> focusWalked(AtspiAccessible* app, qint64 pid,
                                                        const DisplayGeometry& geometry)
{
    Owned root;
    {
        X11Display display;
        const std::optional<quint64> active = display ? display.activeWindow() : std::nullopt;
        QList<X11Display::PlacedWindow> windows = display ? display.windowsOf(pid) : QList<X11Display::PlacedWindow> {};
        windows.removeIf([&](const X11Display::PlacedWindow& each) { return !active || each.id != *active; });
        if (std::optional<Fit> fit = fitTopLevel(app, windows, true))
            root = std::move(fit->topLevel);
    }
    std::optional<ControlsReader::FocusedField> field;
    bool doubt = false;
    Walk walking {*tLookup};
    walking.from(root ? root.get() : app, [&](AtspiAccessible* node, AtspiRole role, AtspiStateSet* states) {
        if (!atspi_state_set_contains(states, ATSPI_STATE_FOCUSED))
            return true;
        field = fieldFrom(node, role, states, geometry);
        doubt = !field;
        return false;
    });
    if (doubt || walking.verdict() != Walked::stopped)
        return std::nullopt;
    return field;
}

// Text, or what holds text, that a drag from it may carry: a field, a page, a label, a link.
bool textRole(AtspiRole role)
{
    switch (role) {
    case ATSPI_ROLE_ENTRY:
    case ATSPI_ROLE_PASSWORD_TEXT:
    case ATSPI_ROLE_TEXT:
    case ATSPI_ROLE_PARAGRAPH:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
    case ATSPI_ROLE_DOCUMENT_TEXT:
    case ATSPI_ROLE_DOCUMENT_EMAIL:
    case ATSPI_ROLE_DOCUMENT_PRESENTATION:
    case ATSPI_ROLE_DOCUMENT_SPREADSHEET:
    case ATSPI_ROLE_TERMINAL:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_STATIC:
    case ATSPI_ROLE_HEADING:
    case ATSPI_ROLE_LINK:
    case ATSPI_ROLE_EDITBAR:
    case ATSPI_ROLE_CAPTION:
    case ATSPI_ROLE_BLOCK_QUOTE:
    case ATSPI_ROLE_ARTICLE:
    case ATSPI_ROLE_COMMENT:
    case ATSPI_ROLE_AUTOCOMPLETE:
        return true;
    default:
        return false;
    }
}

// The deepest element under `at` (the application's own pixels) in the top-level `top`, in
// `deepest`: a null one when the way down passes a toolbar (whose buttons leave the focus where it
// is when clicked); false, with the call counted, when one did not answer.
bool deepestIn(AtspiAccessible* top, QPointF at, Owned& deepest)
{
    deepest.reset();
    Owned held(static_cast<AtspiAccessible*>(g_object_ref(top)));
    for (int depth = 0; depth <= kMaxDepth; ++depth) {
        AtspiAccessible* node = held.get();
        GError* asked = nullptr;
        const AtspiRole role = patient() ? atspi_accessible_get_role(node, &asked) : ATSPI_ROLE_INVALID;
        const bool told = !asked && role != ATSPI_ROLE_INVALID;
        g_clear_error(&asked);
        if (!told) {
            ++tUnanswered;
            return false;
        }
        if (role == ATSPI_ROLE_TOOL_BAR)
            return true;
        QElapsedTimer asking;
        asking.start();
        AtspiComponent* component = patient() ? atspi_accessible_get_component_iface(node) : nullptr;
        if (!component && ranOut(asking.elapsed())) {
            ++tUnanswered;
            return false;
        }
        if (!component)
            break;
        asking.restart();
        GError* error = nullptr;
        Owned child(patient() ? atspi_component_get_accessible_at_point(component, static_cast<gint>(std::lround(at.x())),
                                                                        static_cast<gint>(std::lround(at.y())),
                                                                        ATSPI_COORD_TYPE_SCREEN, &error)
                              : nullptr);
        g_object_unref(component);
        const bool failed = error || (!child && ranOut(asking.elapsed()));
        g_clear_error(&error);
        if (failed) {
            ++tUnanswered;
            return false;
        }
        if (!child || std::strcmp(ATSPI_OBJECT(child.get())->path, ATSPI_OBJECT(node)->path) == 0)
            break;
        held = std::move(child);
    }
    deepest = std::move(held);
    return true;
}

// The application's own answer on whether `node` has `state` now: libatspi's copy of its states
// follows the bus's events, which a loaded desktop delivers late.
bool hasStateNow(AtspiAccessible* node, AtspiStateType state)
{
    if (!patient())
        return false;
    atspi_accessible_clear_cache(node);
    AtspiStateSet* states = atspi_accessible_get_state_set(node);
    const bool has = states && atspi_state_set_contains(states, state);
    if (states)
        g_object_unref(states);
    return has;
}

// The window or document an element of a page or window lies in: the focus is given no higher.
bool windowLevel(AtspiRole role)
{
    switch (role) {
    case ATSPI_ROLE_APPLICATION:
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_WINDOW:
    case ATSPI_ROLE_DIALOG:
    case ATSPI_ROLE_DOCUMENT_WEB:
    case ATSPI_ROLE_DOCUMENT_FRAME:
        return true;
    default:
        return false;
    }
}

// Gives the focus to the nearest element from `deepest` up that takes it, as a click there would.
// Chromium tells of the text inside a button or link under the pointer, which cannot take the focus
// (and answers yes when asked to): each element that can is asked in turn until the application
// tells that it, or what lies under the point inside it, took it. Whether any was asked and said yes.
bool focusUpFrom(Owned deepest, AtspiAccessible* top, const QDeadlineTimer& deadline)
{
    // The application moves the focus when it gets to the request; a starved one takes a while.
    constexpr qint64 kConfirmMs = 1500;
    std::vector<Owned> below;
    bool given = false;
    Owned node = std::move(deepest);
    for (int depth = 0; node && depth <= kMaxDepth && patient(); ++depth) {
        GError* asked = nullptr;
        const AtspiRole role = atspi_accessible_get_role(node.get(), &asked);
        g_clear_error(&asked);
        if (role == ATSPI_ROLE_TOOL_BAR)
            return false;
        if (hasStateNow(node.get(), ATSPI_STATE_FOCUSABLE)) {
            AtspiComponent* component = patient() ? atspi_accessible_get_component_iface(node.get()) : nullptr;
            GError* error = nullptr;
            const bool answered = component && atspi_component_grab_focus(component, &error);
            if (component)
                g_object_unref(component);
            g_clear_error(&error);
            given = given || answered;
            QDeadlineTimer confirming(std::min<qint64>(kConfirmMs, std::max<qint64>(deadline.remainingTime(), 0)));
            while (answered) {
                if (hasStateNow(node.get(), ATSPI_STATE_FOCUSED)
                    || std::any_of(below.begin(), below.end(),
                                   [](const Owned& inside) { return hasStateNow(inside.get(), ATSPI_STATE_FOCUSED); }))
                    return true;
                if (confirming.hasExpired())
                    break;
                QThread::msleep(20);
            }
        }
        if (windowLevel(role) || std::strcmp(ATSPI_OBJECT(node.get())->path, ATSPI_OBJECT(top)->path) == 0)
            break;
        Owned parent(patient() ? atspi_accessible_get_parent(node.get(), nullptr) : nullptr);
        below.push_back(std::move(node));
        node = std::move(parent);
    }
    return given;
}

// GTK 4 answers no lookup at a point (and tells places from its windows' corners): what lies at a
// point of its windows is not told.
bool answersNoLookupAtPoint(AtspiAccessible* app)
{
    GError* error = nullptr;
    gchar* toolkit = patient() ? atspi_accessible_get_toolkit_name(app, &error) : nullptr;
    g_clear_error(&error);
    gchar* version = toolkit && patient() ? atspi_accessible_get_toolkit_version(app, &error) : nullptr;
    g_clear_error(&error);
    const bool gtk4 = toolkit && version && g_ascii_strcasecmp(toolkit, "GTK") == 0 && g_str_has_prefix(version, "4.");
    g_free(toolkit);
    g_free(version);
    return gtk4;
}

// A showing menu under `pixel` among the children of the application's top-levels: a browser's
// menu lies there, in a window of its own that no top-level stands for. None when none is found.
std::optional<ControlsReader::Pointed> menuAmongChildren(AtspiAccessible* app, QPointF pixel)
{
    GError* error = nullptr;
    const gint tops = patient() ? atspi_accessible_get_child_count(app, &error) : 0;
    g_clear_error(&error);
    for (gint i = 0; i < tops && i < 16 && patient(); ++i) {
        Owned top(atspi_accessible_get_child_at_index(app, i, &error));
        g_clear_error(&error);
        const gint count = top && patient() ? atspi_accessible_get_child_count(top.get(), &error) : 0;
        g_clear_error(&error);
        for (gint j = 0; j < count && j < 64 && patient(); ++j) {
            Owned child(atspi_accessible_get_child_at_index(top.get(), j, &error));
            g_clear_error(&error);
            if (!child)
                continue;
            const AtspiRole role = atspi_accessible_get_role(child.get(), &error);
            g_clear_error(&error);
            if (role != ATSPI_ROLE_MENU && role != ATSPI_ROLE_POPUP_MENU)
                continue;
            AtspiComponent* component = atspi_accessible_get_component_iface(child.get());
            if (!component)
                continue;
            AtspiRect* rect = patient() ? atspi_component_get_extents(component, ATSPI_COORD_TYPE_SCREEN, &error) : nullptr;
            g_object_unref(component);
            g_clear_error(&error);
            if (!rect)
                continue;
            const QRectF extents(rect->x, rect->y, rect->width, rect->height);
            g_free(rect);
            if (extents.width() > 0 && extents.contains(pixel)) {
                ControlsReader::Pointed pointed;
                pointed.checked = true;
                pointed.menu = true;
                pointed.element = addressOf(child.get());
                return pointed;
            }
        }
    }
    return std::nullopt;
}

// The deepest element under `at` (the application's own pixels) in the top-level `top`, and
// whether it or an element around it is a password field or a menu; none, with the call counted,
// when one did not answer.
std::optional<ControlsReader::Pointed> pointedIn(AtspiAccessible* top, QPointF at)
{
    ControlsReader::Pointed pointed;
    pointed.checked = true;
    Owned held;
    AtspiAccessible* node = top;
    for (int depth = 0; depth <= kMaxDepth; ++depth) {
        GError* error = nullptr;
        const AtspiRole role = patient() ? atspi_accessible_get_role(node, &error) : ATSPI_ROLE_INVALID;
        const bool told = !error && role != ATSPI_ROLE_INVALID;
        g_clear_error(&error);
        if (!told) {
            ++tUnanswered;
            return std::nullopt;
        }
        pointed.secure = pointed.secure || passwordField(node, role);
        pointed.menu = pointed.menu || menuRole(role);
        pointed.text = pointed.text || textRole(role);
        pointed.element = addressOf(node);
        QElapsedTimer asking;
        asking.start();
        AtspiComponent* component = patient() ? atspi_accessible_get_component_iface(node) : nullptr;
        // The list of what an element offers comes with no error when it does not come at all.
        if (!component && ranOut(asking.elapsed())) {
            ++tUnanswered;
            return std::nullopt;
        }
        if (!component)
            break;
        asking.restart();
        Owned child(patient() ? atspi_component_get_accessible_at_point(component, static_cast<gint>(std::lround(at.x())),
                                                                        static_cast<gint>(std::lround(at.y())),
                                                                        ATSPI_COORD_TYPE_SCREEN, &error)
                              : nullptr);
        g_object_unref(component);
        const bool failed = error || (!child && ranOut(asking.elapsed()));
        g_clear_error(&error);
        if (failed) {
            ++tUnanswered;
            return std::nullopt;
        }
        if (!child || std::strcmp(ATSPI_OBJECT(child.get())->path, ATSPI_OBJECT(node)->path) == 0)
            break;
        held = std::move(child);
        node = held.get();
    }
    return pointed;
}

// The scale and place of a GTK 4 application's active window, for the frame of its focused field.
void placeActiveWindow(AtspiAccessible* app, qint64 pid)
{
    QList<X11Display::PlacedWindow> windows;
    {
        X11Display display;
        const std::optional<quint64> active = display ? display.activeWindow() : std::nullopt;
        windows = display ? display.windowsOf(pid) : QList<X11Display::PlacedWindow> {};
        windows.removeIf([&](const X11Display::PlacedWindow& each) { return !active || each.id != *active; });
    }
    const int before = tUnanswered;
    std::vector<Placed> placed = placeTopLevels(app, windows);
    // Only the frame depends on it: a window not placed leaves the field unplaced, not unchecked.
    tUnanswered = before;
    if (placed.empty())
        return;
    tAppScale = placed.front().scale;
    tWindowOrigin = placed.front().origin;
}

// Whether `node` holds the keyboard focus now, as its application says it now; none when it does
// not answer in time. `told`: the application said it took the focus.
std::optional<bool> holdsFocusNow(AtspiAccessible* node, bool told)
{
    if (!patient())
        return std::nullopt;
    atspi_accessible_clear_cache(node);
    AtspiStateSet* states = statesOf(node);
    if (!states)
        return std::nullopt;
    GError* error = nullptr;
    const AtspiRole role = told && patient() ? atspi_accessible_get_role(node, &error) : ATSPI_ROLE_INVALID;
    g_clear_error(&error);
    const bool holds = focusedIn(role, states, told);
    g_object_unref(states);
    return holds;
}

// The element at `address` among those the last check found and those the applications told took
// the focus; null when none is known.
AtspiAccessible* knownElement(const QString& address)
{
    if (const auto checked = gCheckedNodes.find(address); checked != gCheckedNodes.end())
        return checked->second.get();
    for (const auto& [bus, record] : gFocusTaken)
        for (const Owned& each : record.taken)
            if (addressOf(each.get()) == address)
                return each.get();
    return nullptr;
}

// Whether the moves the events tell of since the check are borne out by the applications now: the
// events of a loaded desktop come late, and one sent before the check, or a focus that left and
// came back before it, is no move after it. A move is borne out when the element that took the
// focus holds it now, when `watched` does not, or when `watched` was told to lose the focus and to
// take it back; and when an application can't say.
bool moveBorneOut(const QString& watched)
{
    constexpr std::chrono::milliseconds kAsking {2000};
    const Lookup lookup {QDeadlineTimer(kAsking)};
    tPatienceMs = kAsking.count();
    AtspiAccessible* field = knownElement(watched);
    const std::optional<bool> fieldHolds = field ? holdsFocusNow(field, false) : std::nullopt;
    if (fieldHolds != true)
        return true;
    bool lost = false;
    std::set<QString> asked;
    for (const FocusEvent& event : gFocusEvents) {
        if (event.element == watched) {
            if (event.kind == FocusEvent::lost)
                lost = true;
            else if (event.kind == FocusEvent::gained && lost)
                return true;
            continue;
        }
        if (event.kind != FocusEvent::gained || !asked.insert(event.element).second)
            continue;
        AtspiAccessible* taker = knownElement(event.element);
        if (!taker || holdsFocusNow(taker, true) != false)
            return true;
    }
    return false;
}

// The window keys went to at the last focused-field check, and the application checked, to tell
// before every key whether they still go there. Accessibility thread only.
struct KeysWindow {
    quint64 focus = 0;
    quint64 topLevel = 0;
    qint64 pid = 0;
};
std::optional<KeysWindow> gKeysWindow;

// This thread's own connection to the display.
X11Display& keysDisplay()
{
    static auto* display = new X11Display;
    return *display;
}

void rememberKeysWindow(qint64 pid)
{
    gKeysWindow.reset();
    X11Display& display = keysDisplay();
    const quint64 focus = display ? display.keyWindow() : 0;
    if (focus != 0)
        gKeysWindow = KeysWindow {focus, display.topLevelOf(focus), pid};
}

// Where keys go now, when no longer to the window of the last check. One request to the display
// while they still go where they went; the rest only once they don't.
std::optional<ControlsReader::Away> keysAway()
{
    using KeysGo = ControlsReader::KeysGo;
    if (!gKeysWindow)
        return std::nullopt;
    X11Display& display = keysDisplay();
    const quint64 now = display.keyWindow();
    if (now != 0 && now == gKeysWindow->focus)
        return std::nullopt;
    const quint64 top = now == 0 ? 0 : display.topLevelOf(now);
    if (top != 0 && top == gKeysWindow->topLevel)
        return std::nullopt;
    ControlsReader::Away away;
    away.gone = !display.exists(gKeysWindow->topLevel);
    const qint64 owner = display.ownerOf(top);
    if (top == 0) {
        away.to = KeysGo::nowhere;
    } else if (owner > 0 && owner == gKeysWindow->pid) {
        away.to = KeysGo::toWindow;
    } else {
        // Whether the application that owns it is on the bus, so that where its focus is can be asked.
        constexpr std::chrono::milliseconds kAsking {2000};
        const Lookup lookup {QDeadlineTimer(kAsking)};
        tPatienceMs = kAsking.count();
        away.to = owner > 0 && !appsOf(owner).empty() ? KeysGo::toWindow : KeysGo::toUnchecked;
    }
    return away;
}

// Whether the application of the element at `address` still has its name on the accessibility bus;
// none when the bus does not answer in time. The bus itself answers, however busy the application.
std::optional<bool> stillOnBus(const QString& address)
{
    const qsizetype path = address.indexOf(QLatin1String(":/"));
    DBusConnection* bus = atspi_get_a11y_bus();
    if (path <= 0 || !bus)
        return std::nullopt;
    const QByteArray name = address.left(path).toUtf8();
    const char* asked = name.constData();
    DBusMessage* call = dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                                     "org.freedesktop.DBus", "NameHasOwner");
    if (!call)
        return std::nullopt;
    dbus_message_append_args(call, DBUS_TYPE_STRING, &asked, DBUS_TYPE_INVALID);
    DBusError error;
    dbus_error_init(&error);
    DBusMessage* reply = dbus_connection_send_with_reply_and_block(
        bus, call, static_cast<int>(ControlsReader::kCallPatience.count()), &error);
    dbus_message_unref(call);
    std::optional<bool> owned;
    dbus_bool_t has = FALSE;
    if (reply && dbus_message_get_args(reply, &error, DBUS_TYPE_BOOLEAN, &has, DBUS_TYPE_INVALID))
        owned = has != FALSE;
    if (reply)
        dbus_message_unref(reply);
    dbus_error_free(&error);
    return owned;
}

// A call of a lookup that came back with `value` after `waited` ms: none when it was not answered.
std::optional<gint> answered(gint value, GError*& error, qint64 waited)
{
    const bool told = !error && value >= 0 && !(value == 0 && waitedOut(waited));
    g_clear_error(&error);
    return told ? std::optional<gint>(value) : std::nullopt;
}

// How many characters `text` holds; none when its application does not tell. Run inside a `Lookup`.
std::optional<gint> lengthOf(AtspiText* text)
{
    QElapsedTimer asking;
    asking.start();
    GError* error = nullptr;
    const gint length = patient() ? atspi_text_get_character_count(text, &error) : -1;
    return answered(length, error, asking.elapsed());
}

// Where typing goes in `node`'s text. Run inside a `Lookup`.
std::optional<ControlsReader::Held> heldIn(AtspiAccessible* node)
{
    AtspiText* text = patient() ? atspi_accessible_get_text_iface(node) : nullptr;
    if (!text)
        return std::nullopt;
    std::optional<ControlsReader::Held> held;
    GError* error = nullptr;
    QElapsedTimer asking;
    const std::optional<gint> length = lengthOf(text);
    asking.start();
    const gint caretTold = length && patient() ? atspi_text_get_caret_offset(text, &error) : -1;
    // A field without a caret tells -1, and so does a call without an answer.
    const std::optional<gint> caret = caretTold < 0 ? std::nullopt : answered(caretTold, error, asking.elapsed());
    g_clear_error(&error);
    asking.restart();
    const gint selections = caret && patient() ? atspi_text_get_n_selections(text, &error) : -1;
    const bool selectionsTold = !error && selections >= 0 && !(selections == 0 && waitedOut(asking.elapsed()));
    g_clear_error(&error);
    if (length && caret && selectionsTold) {
        held = ControlsReader::Held {*length, std::min(*caret, *length), std::min(*caret, *length)};
        AtspiRange* range = selections > 0 && patient() ? atspi_text_get_selection(text, 0, &error) : nullptr;
        if (selections > 0 && (!range || error))
            held.reset();
        else if (range && range->start_offset != range->end_offset) {
            held->from = std::clamp(std::min(range->start_offset, range->end_offset), 0, *length);
            held->to = std::clamp(std::max(range->start_offset, range->end_offset), 0, *length);
        }
        g_free(range);
        g_clear_error(&error);
    }
    g_object_unref(text);
    return held;
}

// What `node` holds where typing into it went since it held `before`. Run inside a `Lookup`.
std::optional<QString> typedIn(AtspiAccessible* node, const ControlsReader::Held& before)
{
    AtspiText* text = patient() ? atspi_accessible_get_text_iface(node) : nullptr;
    if (!text)
        return std::nullopt;
    std::optional<QString> typed;
    const std::optional<gint> length = lengthOf(text);
    const gint end = length ? before.to + (*length - before.length) : -1;
    if (length && end >= before.from && end <= *length) {
        QElapsedTimer asking;
        asking.start();
        GError* error = nullptr;
        gchar* got = end > before.from && patient() ? atspi_text_get_text(text, before.from, end, &error) : nullptr;
        const QString stretch = QString::fromUtf8(got ? got : "");
        if (end == before.from || (got && !error && !(stretch.isEmpty() && waitedOut(asking.elapsed()))))
            typed = stretch;
        g_free(got);
        g_clear_error(&error);
    }
    g_object_unref(text);
    return typed;
}

// Runs `read` on the element at `address` that the last check found, within `deadline`; none when
// the element is not known or the accessibility bus never started.
template <typename T>
std::optional<T> readElement(const QString& address, const QDeadlineTimer& deadline,
                             const std::function<std::optional<T>(AtspiAccessible*)>& read)
{
    if (!gContext)
        return std::nullopt;
    AtspiAccessible* node = knownElement(address);
    if (!node)
        return std::nullopt;
    const Lookup lookup(deadline);
    tPatienceMs = ControlsReader::kCallPatience.count();
    atspi_accessible_clear_cache(node);
    return read(node);
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
    const QDeadlineTimer budget(gWalkBudgetMs.load());
    QList<Control> controls;
    // Controls whose place was not told, asked again once the walk is done, and listed where the
    // walk met them.
    struct Unplaced {
        Owned node;
        qsizetype at;
        QString kind;
        QString label;
        double scale;
        QPointF origin;
    };
    std::vector<Unplaced> unplaced;
    const auto listed = [&] { return controls.size() + static_cast<qsizetype>(unplaced.size()); };
    const QRectF display(QPointF(0, 0), geometry.sizeInPoints());
    bool pageLoading = false;
    DropDowns dropDowns;
    // The drop-downs listed, by address: where each stands (placed, or among the unplaced; both
    // only appended to during the walk), so that the option met below it names its value.
    struct Box {
        bool placed;
        qsizetype at;
        bool valued;
    };
    std::map<QString, Box> boxes;
    const Walked walked = walk(pid, [&](AtspiAccessible* node, AtspiRole role, AtspiStateSet* states) {
        pageLoading = pageLoading || pageUnread(role, states);
        if (const QString box = dropDowns.closedAround(node, role); !box.isEmpty()) {
            const auto listedBox = boxes.find(box);
            if (DropDowns::option(role) && listedBox != boxes.end() && !listedBox->second.valued) {
                Box& listedAt = listedBox->second;
                QString& label = listedAt.placed ? controls[listedAt.at].label
                                                 : unplaced[static_cast<size_t>(listedAt.at)].label;
                label = DropDowns::labelled(label, labelOf(node));
                listedAt.valued = true;
            }
            return true;
        }
        QString kind = controlKind(role, states);
        if (kind.isEmpty())
            return true;
        const bool box = role == ATSPI_ROLE_COMBO_BOX;
        if ((role == ATSPI_ROLE_PASSWORD_TEXT || kind == QLatin1String("textfield"))
            && passwordField(node, role))
            kind = QStringLiteral("password");
        const Place place = placeOf(node, geometry);
        if (place.unknown) {
            if (box)
                boxes.emplace(addressOf(node), Box {false, static_cast<qsizetype>(unplaced.size()), false});
            unplaced.push_back(Unplaced {Owned(static_cast<AtspiAccessible*>(g_object_ref(node))), controls.size(),
                                         kind, labelOf(node), tAppScale, tWindowOrigin});
            return listed() < kMaxControls;
        }
        if (!place.rect || !place.rect->intersects(display))
            return true;
        if (box)
            boxes.emplace(addressOf(node), Box {true, controls.size(), false});
        controls.append(Control {QString(), kind, labelOf(node), *place.rect});
        return listed() < kMaxControls;
    });
    bool unknown = false;
    for (auto each = unplaced.rbegin(); each != unplaced.rend(); ++each) {
        if (budget.hasExpired()) {
            unknown = true;
            continue;
        }
        tAppScale = each->scale;
        tWindowOrigin = each->origin;
        allowUntil(budget);
        const Place place = placeOf(each->node.get(), geometry);
        atspi_set_timeout(kCallTimeoutMs, kStartupMs);
        tAppScale = 1.0;
        tWindowOrigin = {};
        // Told now that it takes no room, it may still be on its way into place.
        unknown = unknown || place.unknown || !place.rect;
        if (place.rect && place.rect->intersects(display))
            controls.insert(each->at, Control {QString(), each->kind, each->label, *place.rect});
    }
    if (pageLoading)
        logline::info(QStringLiteral("controls: a page shown is not read yet"));
    if (!unplaced.empty())
        logline::info(QStringLiteral("controls: %1 without a place told, %2 after asking again")
                          .arg(unplaced.size())
                          .arg(unknown ? QStringLiteral("some still") : QStringLiteral("none")));
    for (qsizetype i = 0; i < controls.size(); ++i)
        controls[i].id = QStringLiteral("C%1").arg(i + 1);
    const bool cutShort = walked == Walked::limited || unknown || pageLoading || listed() >= kMaxControls;
    return Reading {std::move(controls), cutShort};
}

ControlsReader::FocusedField ControlsReader::focusedField(qint64 pid, const DisplayGeometry& geometry,
                                                          QDeadlineTimer deadline)
{
    if (!ready())
        return {};
    forgetFocusEvents();
    gCheckedNodes.clear();
    if (pid <= 0)
        return {};
    rememberKeysWindow(pid);
    QElapsedTimer clock;
    clock.start();
    const Lookup lookup(deadline);
    std::optional<FocusedField> field;
    const char* stage = "finding the application";
    int attempts = 0;
    // A call without an answer leaves unknown what it would have told, so the look is taken again
    // while the deadline allows: an application sometimes leaves one call waiting until the next
    // one comes, and answers both; a hung one answers neither.
    do {
        ++attempts;
        tUnanswered = 0;
        // A late answer is soon asked again; one that is slow to come gets longer each time.
        tPatienceMs = std::min<qint64>(kFirstPatience.count() << (attempts - 1), kCallPatience.count());
        stage = "finding the application";
        const std::vector<Owned> apps = appsOf(pid);
        if (apps.empty() && tUnanswered == 0)
            return {};
        if (attempts == 1) {
            stage = "catching up with its events";
            catchUpWith(apps);
            forgetFocusEvents();
        }
        // Each way asks the application more than the one before.
        for (const Owned& app : apps) {
            if (field || tUnanswered > 0)
                break;
            stage = "learning its scale";
            tAppScale = scaleFor(app.get(), pid, false);
            if (windowRelative(app.get())) {
                tVisibleIsShowing = true;
                placeActiveWindow(app.get(), pid);
            }
            stage = "asking the element that took the focus";
            AtspiRole told = ATSPI_ROLE_INVALID;
            field = focusTold(app.get(), geometry, &told);
            // A document told to have the focus may only be around, or beside, what holds it.
            if ((!field || (!field->secure && holdsFocusSurely(told, *field) < 2)) && tUnanswered == 0) {
                stage = "searching";
                if (auto searched = focusSearched(app.get(), geometry))
                    field = std::move(searched);
            }
            if (!field && tUnanswered == 0) {
                stage = "walking the window";
                field = focusWalked(app.get(), pid, geometry);
            }
            if (field && field->menuOpener != FocusedField::Opener::none) {
                stage = "finding what had the focus before the menu";
                field->menuOpener = openerOf(app.get());
            }
            if (field && field->secure && field->menuOpener == FocusedField::Opener::none) {
                stage = "looking for a menu opened over the password field";
                const int before = tUnanswered;
                const bool shows = menuShowing(app.get(), field->element);
                // The field is known; whether a menu shows over it is not: the look is taken again
                // while there is time, and after that nothing is picked.
                if (tUnanswered > before && deadline.remainingTime() < 2 * kCallPatience.count()) {
                    tUnanswered = before;
                    field->menuOpener = FocusedField::Opener::unknown;
                } else if (shows) {
                    field->menuOpener = FocusedField::Opener::password;
                }
            }
            tAppScale = 1.0;
            tWindowOrigin = {};
            tVisibleIsShowing = false;
        }
        if (tUnanswered > 0)
            field.reset();
    } while (!field && tUnanswered > 0 && !deadline.hasExpired());
    if (field)
        return *field;
    logline::info(QStringLiteral("controls: no focused field after %1 ms and %2 looks, %3 calls without an answer, %4")
                      .arg(clock.elapsed())
                      .arg(attempts)
                      .arg(tUnanswered)
                      .arg(QLatin1String(stage)));
    FocusedField untold;
    untold.unanswered = tUnanswered > 0;
    return untold;
}

QCoro::Task<ControlsReader::FocusedField> ControlsReader::focusedFieldIsSecure(std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    followTextForAWhile();
    const auto geometry = DisplayGeometry::mainDisplay();
    if (!geometry)
        co_return FocusedField {};
    const auto app = X11Display().activeWindowApp();
    if (!app || app->pid <= 0)
        co_return FocusedField {};
    const qint64 pid = app->pid;
    const DisplayGeometry where = *geometry;
    auto read = [pid, where, deadline] { return focusedField(pid, where, deadline); };
    // The lookup may wait behind a screen reading's walk on the one accessibility thread; it keeps
    // to the deadline itself, give or take a last call that answers late. Past that the answer is
    // "could not check" and the lookup ends on its own.
    constexpr std::chrono::milliseconds kLastCall {250};
    const auto waiting = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()) + kLastCall;
    auto watcher = std::make_shared<QFutureWatcher<FocusedField>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<FocusedField>::finished, waiting);
    watcher->setFuture(QtConcurrent::run(pool(), read));
    co_await std::move(finished);
    if (!watcher->isFinished()) {
        FocusedField untold;
        untold.unanswered = true;
        co_return untold;
    }
    co_return watcher->result();
}

namespace {

// Asks the application of the window under a point what lies at `pixel`: `in` the window's
// top-level when one fits it, else `outside` the application's top-levels (when given). A call left
// unanswered is asked again, with more patience each time, while the lookup's deadline allows. Run
// inside a `Lookup`.
template <typename T>
std::optional<T> askAtPoint(const X11Display::WindowAt& under, QPointF pixel, const QDeadlineTimer& deadline,
                            int& attempts, const std::function<std::optional<T>(AtspiAccessible*, QPointF)>& in,
                            const std::function<std::optional<T>(AtspiAccessible*)>& outside = {})
{
    std::optional<T> found;
    do {
        ++attempts;
        tUnanswered = 0;
        tPatienceMs = std::min<qint64>(kFirstPatience.count() << (attempts - 1), ControlsReader::kCallPatience.count());
        const std::vector<Owned> apps = appsOf(under.pid);
        for (const Owned& app : apps) {
            if (found || tUnanswered > 0)
                break;
            // The top-level of the window that takes the pointer there, not one it covers (by its
            // title when its extents do not match the window's, as a browser's may not). A fit that
            // took all the patience may have missed it for a call that never came back.
            if (answersNoLookupAtPoint(app.get()))
                break;
            QElapsedTimer fitting;
            fitting.start();
            if (std::optional<Fit> fit = fitTopLevel(app.get(), {under.window}, true))
                found = in(fit->topLevel.get(), pixel / fit->scale.value_or(1.0));
            else if (ranOut(fitting.elapsed()))
                ++tUnanswered;
            else if (outside)
                found = outside(app.get());
        }
        if (tUnanswered > 0)
            found.reset();
    } while (!found && tUnanswered > 0 && !deadline.hasExpired());
    return found;
}

} // namespace

ControlsReader::Pointed ControlsReader::elementAt(QPointF point, const DisplayGeometry& geometry,
                                                  QDeadlineTimer deadline)
{
    if (!ready())
        return {};
    const QPointF pixel = geometry.toPixels(point);
    std::optional<X11Display::WindowAt> under;
    bool connected = false;
    {
        X11Display display;
        connected = static_cast<bool>(display);
        // The character's windows are drawn over the spot it acts on, and take no input there.
        if (display)
            under = display.windowAt(pixel.toPoint(), QCoreApplication::applicationPid());
    }
    // The bare desktop: no window there to take a drop, text or the focus.
    if (connected && !under) {
        Pointed nothing;
        nothing.checked = true;
        return nothing;
    }
    if (!under || under->pid <= 0)
        return {};
    QElapsedTimer clock;
    clock.start();
    const Lookup lookup(deadline);
    int attempts = 0;
    const std::optional<Pointed> pointed = askAtPoint<Pointed>(
        *under, pixel, deadline, attempts, pointedIn, [pixel](AtspiAccessible* app) { return menuAmongChildren(app, pixel); });
    if (!pointed)
        logline::info(QStringLiteral("controls: nothing told at a point after %1 ms and %2 looks, %3 calls without an answer")
                          .arg(clock.elapsed())
                          .arg(attempts)
                          .arg(tUnanswered));
    return pointed.value_or(Pointed {});
}

QCoro::Task<ControlsReader::Pointed> ControlsReader::elementAtPoint(QPointF point, std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    const auto geometry = DisplayGeometry::mainDisplay();
    if (!geometry)
        co_return Pointed {};
    const DisplayGeometry where = *geometry;
    auto read = [point, where, deadline] { return elementAt(point, where, deadline); };
    constexpr std::chrono::milliseconds kLastCall {250};
    const auto waiting = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()) + kLastCall;
    auto watcher = std::make_shared<QFutureWatcher<Pointed>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<Pointed>::finished, waiting);
    watcher->setFuture(QtConcurrent::run(pool(), read));
    co_await std::move(finished);
    if (!watcher->isFinished())
        co_return Pointed {};
    co_return watcher->result();
}

bool ControlsReader::focusAt(QPointF point, const DisplayGeometry& geometry, QDeadlineTimer deadline)
{
    if (!ready())
        return false;
    const QPointF pixel = geometry.toPixels(point);
    std::optional<X11Display::WindowAt> under;
    {
        X11Display display;
        if (display)
            under = display.windowAt(pixel.toPoint(), QCoreApplication::applicationPid());
    }
    if (!under || under->pid <= 0)
        return false;
    const Lookup lookup(deadline);
    int attempts = 0;
    auto give = [&deadline](AtspiAccessible* top, QPointF at) {
        Owned deepest;
        if (!deepestIn(top, at, deepest))
            return std::optional<bool>();
        return std::optional<bool>(deepest && focusUpFrom(std::move(deepest), top, deadline));
    };
    const std::optional<bool> given = askAtPoint<bool>(*under, pixel, deadline, attempts, give);
    return given.value_or(false);
}

QCoro::Task<bool> ControlsReader::focusAtPoint(QPointF point, std::chrono::milliseconds bound)
{
    const QDeadlineTimer deadline(bound);
    const auto geometry = DisplayGeometry::mainDisplay();
    if (!geometry)
        co_return false;
    const DisplayGeometry where = *geometry;
    auto give = [point, where, deadline] { return focusAt(point, where, deadline); };
    constexpr std::chrono::milliseconds kLastCall {250};
    const auto waiting = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()) + kLastCall;
    auto watcher = std::make_shared<QFutureWatcher<bool>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<bool>::finished, waiting);
    watcher->setFuture(QtConcurrent::run(pool(), give));
    co_await std::move(finished);
    co_return watcher->isFinished() && watcher->result();
}

namespace {

// Runs `job` on the accessibility thread and gives its answer, or none when it does not come
// within `deadline` (and a last late call).
template <typename T>
QCoro::Task<std::optional<T>> onPool(std::function<std::optional<T>()> job, QDeadlineTimer deadline)
{
    constexpr std::chrono::milliseconds kLastCall {250};
    const auto waiting = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.remainingTimeAsDuration()) + kLastCall;
    auto watcher = std::make_shared<QFutureWatcher<std::optional<T>>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<std::optional<T>>::finished, waiting);
    watcher->setFuture(QtConcurrent::run(ControlsReader::pool(), std::move(job)));
    co_await std::move(finished);
    co_return watcher->isFinished() ? watcher->result() : std::nullopt;
}

} // namespace

QCoro::Task<std::optional<ControlsReader::Held>> ControlsReader::textHeld(QString element)
{
    const QDeadlineTimer deadline(kFieldCheckBound);
    std::function<std::optional<Held>()> job = [element, deadline] {
        return readElement<Held>(element, deadline, heldIn);
    };
    auto reading = onPool<Held>(std::move(job), deadline);
    co_return co_await std::move(reading);
}

QCoro::Task<std::optional<QString>> ControlsReader::textTyped(QString element, Held before)
{
    const QDeadlineTimer deadline(kFieldCheckBound);
    std::function<std::optional<QString>()> job = [element, before, deadline] {
        return readElement<QString>(element, deadline, [&before](AtspiAccessible* node) { return typedIn(node, before); });
    };
    auto reading = onPool<QString>(std::move(job), deadline);
    co_return co_await std::move(reading);
}

QCoro::Task<ControlsReader::Following> ControlsReader::focusStaysOn(QString element, bool keySent,
                                                                   std::chrono::milliseconds timeout)
{
    if (element.isEmpty())
        co_return Following {Follow::unknown};
    followTextForAWhile();
    auto follow = [element, keySent]() -> Following {
        // Before the events come in: text the element takes is told of from now on.
        if (gWatched.element != element) {
            gWatched = Watched {};
            gWatched.element = element;
        }
        if (!ready())
            return Following {Follow::unknown};
        // The first event that took the focus from the element or changed it, and where it came.
        const auto leaving = []() -> std::optional<std::pair<Follow, quint64>> {
            // More than could be kept: something moved, nobody knows when.
            if (gFocusEventsOverflowed)
                return std::pair {Follow::moved, quint64 {0}};
            for (const FocusEvent& event : gFocusEvents) {
                const bool same = event.element == gWatched.element;
                if ((event.kind == FocusEvent::gained && !same) || (event.kind == FocusEvent::lost && same))
                    return std::pair {Follow::moved, event.at};
                if (event.kind == FocusEvent::changed && same)
                    return std::pair {Follow::changed, event.at};
            }
            return std::nullopt;
        };
        // What became of the key sent: the element tells of the text it took before it tells of a
        // focus that moves on, in the order the application handled them.
        const std::chrono::milliseconds patience = !keySent ? std::chrono::milliseconds(0)
            : gWatched.tells                             ? kKeyLanding
            : gWatched.waited                            ? std::chrono::milliseconds(0)
                                                         : kFirstLanding;
        if (keySent && !gWatched.tells)
            gWatched.waited = true;
        const QDeadlineTimer landing(patience);
        std::optional<std::pair<Follow, quint64>> left;
        // Where keys go is asked of the display first, and again while a key's landing is awaited:
        // an application that quit, or a window off the bus, tells nothing on the bus.
        QElapsedTimer sinceWindowLook;
        sinceWindowLook.start();
        std::optional<Away> away = keysAway();
        for (;;) {
            while (!away && gWatched.tookSinceLook == 0 && !leaving() && !landing.hasExpired()) {
                const qint64 wait = std::min<qint64>(kWindowLook.count(), landing.remainingTime());
                GSource* timer = g_timeout_source_new(static_cast<guint>(std::max<qint64>(1, wait)));
                g_source_set_callback(timer, +[](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
                g_source_attach(timer, gContext);
                g_main_context_iteration(gContext, TRUE);
                g_source_destroy(timer);
                g_source_unref(timer);
                away = keysAway();
                sinceWindowLook.restart();
            }
            if (away)
                break;
            left = leaving();
            if (!left || left->first != Follow::moved || gFocusEventsOverflowed || moveBorneOut(gWatched.element))
                break;
            // Read once; what comes after is news again.
            std::erase_if(gFocusEvents, [](const FocusEvent& event) { return event.kind != FocusEvent::changed; });
        }
        const bool told = gWatched.tookSinceLook != 0;
        Following answer;
        if (!away && !left && keySent && !told) {
            // A key whose landing was not told: the next one goes only where this one went, to an
            // application still on the bus.
            const std::optional<bool> onBus = stillOnBus(gWatched.element);
            if (onBus == false)
                away = Away {false, KeysGo::toUnchecked};
            else if (!onBus)
                answer.follow = Follow::unknown;
        }
        const auto awayTo = [&] {
            answer.follow = Follow::moved;
            answer.keyAstray = keySent && !told;
            answer.away = away;
        };
        if (away) {
            awayTo();
        } else if (left) {
            answer.follow = left->first;
            const quint64 took = gWatched.tookSinceLook;
            // A key in flight when the element changed (into a password field, say) may have
            // landed in it as it is now.
            answer.keyAstray = keySent && !(took != 0 && took < left->second);
        }
        if (answer.follow == Follow::stays) {
            answer.follow = judgedAgain();
            // Nothing tells when it began to hide: the last key may have landed after.
            answer.keyAstray = keySent && answer.follow == Follow::changed;
        }
        // Asked again last, right before the key goes, when the questions since took a while.
        if (answer.follow == Follow::stays && sinceWindowLook.elapsed() > 5 && (away = keysAway()))
            awayTo();
        // Only the look that asked about a key uses up what the element told of it.
        if (keySent)
            gWatched.tookSinceLook = 0;
        if (keySent && gWatched.tells && !gWatched.takenUnknown)
            answer.took = QString::fromUcs4(reinterpret_cast<const char32_t*>(gWatched.taken.constData()), gWatched.taken.size());
        return answer;
    };
    auto watcher = std::make_shared<QFutureWatcher<Following>>();
    auto finished = qCoro(watcher.get(), &QFutureWatcher<Following>::finished, timeout);
    watcher->setFuture(QtConcurrent::run(pool(), follow));
    co_await std::move(finished);
    co_return watcher->isFinished() ? watcher->result() : Following {Follow::unknown};
}
