#include "Tovrick/shell/GlobalHotKeys.h"

#include <QSocketNotifier>
#include <QTimer>

#include <map>
#include <mutex>

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include "shared/util/Log.h"

namespace {

// Xlib's error handler is process-wide and ends the process by default: a refused grab on our own
// connection is recorded instead; errors on anyone else's go to the handler that was there before.
std::mutex gMutex;
std::map<Display*, bool> gErrors;
XErrorHandler gPrevious = nullptr;

int recordError(Display* display, XErrorEvent* event)
{
    {
        std::lock_guard lock(gMutex);
        auto found = gErrors.find(display);
        if (found != gErrors.end()) {
            found->second = true;
            return 0;
        }
    }
    return gPrevious ? gPrevious(display, event) : 0;
}

bool takeError(Display* display)
{
    XSync(display, False);
    std::lock_guard lock(gMutex);
    return std::exchange(gErrors[display], false);
}

constexpr unsigned kModifiers = ControlMask | Mod1Mask;
// What a press may carry besides the locks for it to count as the combination.
constexpr unsigned kRelevant = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;

} // namespace

GlobalHotKeys::GlobalHotKeys(std::function<void(ShellAction)> pressed, const QByteArray& display, QObject* parent)
    : QObject(parent), m_pressed(std::move(pressed))
{
    {
        static std::once_flag once;
        std::call_once(once, [] { gPrevious = XSetErrorHandler(recordError); });
    }
    m_display = XOpenDisplay(display.isEmpty() ? nullptr : display.constData());
    if (!m_display)
        return;
    {
        std::lock_guard lock(gMutex);
        gErrors[m_display] = false;
    }
    // NumLock sits on whichever modifier the keyboard map puts it.
    const KeyCode numLock = XKeysymToKeycode(m_display, XK_Num_Lock);
    if (XModifierKeymap* map = XGetModifierMapping(m_display)) {
        for (int modifier = 0; modifier < 8 && numLock; ++modifier)
            for (int k = 0; k < map->max_keypermod; ++k)
                if (map->modifiermap[modifier * map->max_keypermod + k] == numLock)
                    m_numLock = 1u << modifier;
        XFreeModifiermap(map);
    }
    // A held key repeats as presses alone, without releases in between.
    XkbSetDetectableAutoRepeat(m_display, True, nullptr);
    m_notifier = new QSocketNotifier(ConnectionNumber(m_display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &GlobalHotKeys::readEvents);
}

GlobalHotKeys::~GlobalHotKeys()
{
    if (!m_display)
        return;
    release();
    delete m_notifier;
    m_notifier = nullptr;
    {
        std::lock_guard lock(gMutex);
        gErrors.erase(m_display);
    }
    XCloseDisplay(m_display);
}

QList<unsigned> GlobalHotKeys::lockVariants() const
{
    QList<unsigned> variants {0, LockMask};
    if (m_numLock && m_numLock != LockMask)
        variants << m_numLock << (m_numLock | LockMask);
    return variants;
}

QList<HotKey> GlobalHotKeys::grab(const QList<HotKey>& keys)
{
    if (!m_display) {
        logline::info(QStringLiteral("there is no X display: the global hot keys are off"));
        return {};
    }
    const Window root = DefaultRootWindow(m_display);
    takeError(m_display);
    for (const HotKey& key : keys) {
        const KeySym symbol = XStringToKeysym(QByteArray(1, key.letter).constData());
        const int keycode = symbol == NoSymbol ? 0 : XKeysymToKeycode(m_display, symbol);
        if (!keycode) {
            logline::info(QStringLiteral("this keyboard has no key for ") + key.label() + QStringLiteral(": that hot key is off"));
            continue;
        }
        for (const unsigned variant : lockVariants())
            XGrabKey(m_display, keycode, kModifiers | variant, root, False, GrabModeAsync, GrabModeAsync);
        if (takeError(m_display)) {
            // Another program holds it (in one of its lock variants): hold none of them.
            for (const unsigned variant : lockVariants())
                XUngrabKey(m_display, keycode, kModifiers | variant, root);
            takeError(m_display);
            logline::info(key.label() + QStringLiteral(" is held by another program: that hot key is off"));
            continue;
        }
        m_grabs << Grab {key, keycode};
        m_grabbedKeys << key;
    }
    XFlush(m_display);
    // Replies read while grabbing may have brought events along, which the socket no longer shows.
    QTimer::singleShot(0, this, &GlobalHotKeys::readEvents);
    return m_grabbedKeys;
}

void GlobalHotKeys::release()
{
    if (!m_display || m_grabs.isEmpty())
        return;
    const Window root = DefaultRootWindow(m_display);
    for (const Grab& grab : std::as_const(m_grabs))
        for (const unsigned variant : lockVariants())
            XUngrabKey(m_display, grab.keycode, kModifiers | variant, root);
    takeError(m_display);
    m_grabs.clear();
    m_grabbedKeys.clear();
}

void GlobalHotKeys::readEvents()
{
    if (!m_display)
        return;
    QList<ShellAction> fired;
    while (XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        if (event.type == KeyRelease) {
            m_down.remove(static_cast<int>(event.xkey.keycode));
            continue;
        }
        if (event.type != KeyPress || (event.xkey.state & kRelevant) != kModifiers)
            continue;
        const int keycode = static_cast<int>(event.xkey.keycode);
        if (m_down.contains(keycode))
            continue;
        m_down.insert(keycode);
        for (const Grab& grab : std::as_const(m_grabs))
            if (grab.keycode == keycode)
                fired << grab.key.action;
    }
    // Actions run after the queue is read, from a copy: one may end this object (Quit).
    const auto pressed = m_pressed;
    for (const ShellAction action : fired)
        if (pressed)
            pressed(action);
}
