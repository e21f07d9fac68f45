#include "Tovrick/screen/XTestInput.h"

#include "Tovrick/screen/KeyCombination.h"
#include "shared/util/Log.h"

#include <QGuiApplication>
#include <QStyleHints>

#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdlib>

namespace {

constexpr qint64 kGeometryKeepMs = 2000;

} // namespace

XTestInput::XTestInput(GeometryProvider geometry) : m_geometry(std::move(geometry))
{
    if (!m_geometry)
        m_geometry = &DisplayGeometry::mainDisplay;
    if (Display* display = m_x.handle()) {
        int event = 0;
        int error = 0;
        int major = 0;
        int minor = 0;
        m_xtest = XTestQueryExtension(display, &event, &error, &major, &minor);
        int opcode = 0;
        major = XkbMajorVersion;
        minor = XkbMinorVersion;
        if (XkbQueryExtension(display, &opcode, &m_xkbEvent, &error, &major, &minor)) {
            // Notices of new layouts wait in the queue until a key's look reads them.
            constexpr unsigned notices = XkbNewKeyboardNotifyMask | XkbMapNotifyMask;
            XkbSelectEvents(display, XkbUseCoreKbd, notices, notices);
        }
        loadMapping();
    }
    m_restore.setSingleShot(true);
    connect(&m_restore, &QTimer::timeout, this, &XTestInput::restoreSpareKeys);
}

XTestInput::~XTestInput()
{
    restoreSpareKeys();
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, 0, True);
}

bool XTestInput::available()
{
    return m_xtest;
}

std::optional<DisplayGeometry> XTestInput::geometry()
{
    if (!m_cachedGeometry || !m_geometryAge.isValid() || m_geometryAge.elapsed() > kGeometryKeepMs) {
        m_cachedGeometry = m_geometry();
        m_geometryAge.start();
    }
    return m_cachedGeometry;
}

QPoint XTestInput::toPixels(QPointF point)
{
    const std::optional<DisplayGeometry> where = geometry();
    return (where ? where->toPixels(point) : point).toPoint();
}

std::optional<QPointF> XTestInput::pointer()
{
    const std::optional<QPoint> pixel = m_x.pointer();
    const std::optional<DisplayGeometry> where = geometry();
    if (!pixel || !where)
        return std::nullopt;
    return where->toPoints(QPointF(*pixel));
}

void XTestInput::warp(QPointF point)
{
    Display* display = m_x.handle();
    if (!display)
        return;
    const QPoint pixel = toPixels(point);
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, pixel.x(), pixel.y());
    XFlush(display);
}

void XTestInput::move(QPointF point)
{
    Display* display = m_x.handle();
    if (!display || !m_xtest)
        return;
    const QPoint pixel = toPixels(point);
    XTestFakeMotionEvent(display, -1, pixel.x(), pixel.y(), CurrentTime);
    XFlush(display);
}

void XTestInput::button(Button button, bool down)
{
    Display* display = m_x.handle();
    if (!display || !m_xtest)
        return;
    XTestFakeButtonEvent(display, static_cast<unsigned>(button), down ? True : False, CurrentTime);
    XFlush(display);
}

void XTestInput::wheel(int dx, int dy)
{
    Display* display = m_x.handle();
    if (!display || !m_xtest)
        return;
    // Buttons 4 and 5 scroll up and down, 6 and 7 left and right.
    const auto clicks = [&](unsigned which, int count) {
        for (int i = 0; i < count; ++i) {
            XTestFakeButtonEvent(display, which, True, CurrentTime);
            XTestFakeButtonEvent(display, which, False, CurrentTime);
        }
    };
    clicks(dy < 0 ? 4 : 5, std::abs(dy));
    clicks(dx < 0 ? 6 : 7, std::abs(dx));
    XFlush(display);
}

void XTestInput::loadMapping()
{
    Display* display = m_x.handle();
    if (m_xkb)
        XkbFreeKeyboard(m_xkb, 0, True);
    m_xkb = XkbGetMap(display, XkbKeyTypesMask | XkbKeySymsMask, XkbUseCoreKbd);
    const std::vector<Spare> before = std::move(m_spares);
    m_spares.clear();
    m_symsPerKeycode = 0;
    if (!m_xkb)
        return;
    m_minKeycode = m_xkb->min_key_code;
    m_maxKeycode = m_xkb->max_key_code;
    // The core map's width is the one a spare key is written in; one key's row says it.
    if (KeySym* row = XGetKeyboardMapping(display, static_cast<KeyCode>(m_minKeycode), 1, &m_symsPerKeycode))
        XFree(row);
    m_numLockMask = XkbKeysymToModifiers(display, XK_Num_Lock);
    // Keys that carry nothing, highest first (the low ones are the ones keyboards have); one still
    // carrying a keysym we bound stays a spare key with it.
    for (int code = m_maxKeycode; code >= m_minKeycode; --code) {
        const auto key = static_cast<unsigned>(code);
        const KeySym* syms = XkbKeySymsPtr(m_xkb, key);
        const int count = XkbKeyNumSyms(m_xkb, key);
        const auto carries = [&](unsigned long keysym) {
            return std::all_of(syms, syms + count, [&](KeySym sym) { return sym == NoSymbol || sym == keysym; });
        };
        if (carries(NoSymbol)) {
            m_spares.push_back(Spare {key, 0, {}});
            continue;
        }
        const auto ours = std::find_if(before.begin(), before.end(),
                                       [&](const Spare& spare) { return spare.keycode == key && spare.keysym; });
        if (ours != before.end() && carries(ours->keysym))
            m_spares.push_back(*ours);
    }
}

bool XTestInput::onSpareKeys(int first, int count) const
{
    for (int code = first; code < first + count; ++code)
        if (std::none_of(m_spares.begin(), m_spares.end(),
                         [&](const Spare& spare) { return spare.keycode == static_cast<unsigned>(code); }))
            return false;
    return true;
}

void XTestInput::takeMappingChanges()
{
    Display* display = m_x.handle();
    bool changed = false;
    // Only what already came in: no request, no wait.
    while (XEventsQueued(display, QueuedAlready) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MappingNotify) {
            XRefreshKeyboardMapping(&event.xmapping);
            changed = changed || event.xmapping.request != MappingKeyboard
                || !onSpareKeys(event.xmapping.first_keycode, event.xmapping.count);
        } else if (event.type == ClientMessage) {
            const long* data = event.xclient.data.l;
            if (m_ping && event.xclient.format == 32
                && static_cast<Atom>(data[0]) == XInternAtom(display, "_NET_WM_PING", False)
                && data[1] == m_ping->stamp && static_cast<unsigned long>(data[2]) == m_ping->window) {
                m_ping.reset();
                XSelectInput(display, DefaultRootWindow(display), NoEventMask);
            }
        } else if (event.type == m_xkbEvent) {
            const auto* xkb = reinterpret_cast<const XkbEvent*>(&event);
            if (xkb->any.xkb_type == XkbNewKeyboardNotify) {
                changed = true;
            } else if (xkb->any.xkb_type == XkbMapNotify) {
                // Our own binding of a spare key changes its symbols, actions and the like; a new
                // layout changes key types or other keys.
                const XkbMapNotifyEvent& map = xkb->map;
                constexpr unsigned perKey = XkbKeySymsMask | XkbKeyActionsMask | XkbKeyBehaviorsMask
                    | XkbExplicitComponentsMask | XkbModifierMapMask | XkbVirtualModMapMask;
                const unsigned what = map.changed;
                const auto elsewhere = [&](unsigned part, int first, int count) {
                    return (what & part) && !onSpareKeys(first, count);
                };
                changed = changed || (what & ~perKey) != 0
                    || elsewhere(XkbKeySymsMask, map.first_key_sym, map.num_key_syms)
                    || elsewhere(XkbKeyActionsMask, map.first_key_act, map.num_key_acts)
                    || elsewhere(XkbKeyBehaviorsMask, map.first_key_behavior, map.num_key_behaviors)
                    || elsewhere(XkbExplicitComponentsMask, map.first_key_explicit, map.num_key_explicit)
                    || elsewhere(XkbModifierMapMask, map.first_modmap_key, map.num_modmap_keys)
                    || elsewhere(XkbVirtualModMapMask, map.first_vmodmap_key, map.num_vmodmap_keys);
            }
        }
    }
    if (changed)
        loadMapping();
}

namespace {

// The group of `code` that the server uses when `group` is in effect (a key with fewer groups
// brings it into range its own way); none when the key has no symbols.
std::optional<unsigned> keyGroup(XkbDescPtr xkb, unsigned code, unsigned group)
{
    const auto groups = static_cast<unsigned>(XkbKeyNumGroups(xkb, code));
    if (groups == 0)
        return std::nullopt;
    if (group < groups)
        return group;
    const unsigned char info = XkbKeyGroupInfo(xkb, code);
    switch (XkbOutOfRangeGroupAction(info)) {
    case XkbClampIntoRange:
        return groups - 1;
    case XkbRedirectIntoRange: {
        const auto to = static_cast<unsigned>(XkbOutOfRangeGroupNumber(info));
        return to < groups ? to : 0;
    }
    default:
        return group % groups;
    }
}

// The keysym `code` gives in its group `group` with `mods` in effect.
KeySym symbolAt(XkbDescPtr xkb, unsigned code, unsigned group, unsigned mods)
{
    const XkbKeyTypePtr type = XkbKeyKeyType(xkb, code, group);
    int level = 0;
    const unsigned relevant = mods & type->mods.mask;
    for (int i = 0; i < type->map_count; ++i)
        if (type->map[i].active && type->map[i].mods.mask == relevant) {
            level = type->map[i].level;
            break;
        }
    if (level >= XkbKeyGroupWidth(xkb, code, group))
        return NoSymbol;
    return XkbKeySymEntry(xkb, code, level, group);
}

} // namespace

std::optional<XTestInput::Place> XTestInput::place(unsigned long keysym, unsigned group, bool shortcut) const
{
    for (const Spare& spare : m_spares)
        if (spare.keysym && spare.keysym == keysym)
            return Place {spare.keycode, false};
    if (!m_xkb || keysym == NoSymbol)
        return std::nullopt;
    // Caps Lock is let go around the key; a locked Num Lock stays and picks keypad levels.
    const unsigned plain = m_numLocked ? m_numLockMask : 0;
    const auto find = [&](unsigned wanted) -> std::optional<Place> {
        for (int code = m_minKeycode; code <= m_maxKeycode; ++code) {
            const auto key = static_cast<unsigned>(code);
            // What a spare key carries is known above; the layouts read may hold an earlier binding.
            if (onSpareKeys(code, 1))
                continue;
            const std::optional<unsigned> its = keyGroup(m_xkb, key, wanted);
            if (!its || (wanted != group && *its != wanted))
                continue;
            if (symbolAt(m_xkb, key, *its, plain) == keysym)
                return Place {key, false};
            if (symbolAt(m_xkb, key, *its, plain | ShiftMask) == keysym)
                return Place {key, true};
        }
        return std::nullopt;
    };
    if (std::optional<Place> found = find(group))
        return found;
    if (!shortcut)
        return std::nullopt;
    // A shortcut's letter missing from the active group is the key that carries it in the first
    // group that has it, as the user would press it: toolkits match shortcuts on a layout without
    // that letter by the key's letter in another group. Typed text never takes this: the key would
    // give its own character of the active group.
    for (unsigned other = 0; other < XkbNumKbdGroups; ++other)
        if (other != group)
            if (std::optional<Place> found = find(other))
                return found;
    return std::nullopt;
}

XTestInput::Spare* XTestInput::freeSpare()
{
    Spare* oldest = nullptr;
    for (Spare& spare : m_spares) {
        if (!spare.keysym)
            return &spare;
        if (!oldest || spare.used.elapsed() > oldest->used.elapsed())
            oldest = &spare;
    }
    if (oldest && oldest->used.elapsed() >= kSpareKeyHoldMs)
        return oldest;
    return nullptr;
}

std::optional<XTestInput::Place> XTestInput::bindSpare(unsigned long keysym)
{
    Display* display = m_x.handle();
    Spare* spare = freeSpare();
    if (!spare)
        return std::nullopt;
    std::vector<KeySym> syms(static_cast<size_t>(m_symsPerKeycode), keysym);
    XChangeKeyboardMapping(display, static_cast<int>(spare->keycode), m_symsPerKeycode, syms.data(), 1);
    if (m_x.takeError())
        return std::nullopt;
    spare->keysym = keysym;
    spare->used.start();
    return Place {spare->keycode, false};
}

void XTestInput::restoreSpareKeys()
{
    Display* display = m_x.handle();
    if (!display || std::none_of(m_spares.begin(), m_spares.end(), [](const Spare& spare) { return spare.keysym; }))
        return;
    // A new layout may have put a key where one of ours was: only what still carries ours is cleared.
    XSync(display, False);
    takeMappingChanges();
    std::vector<KeySym> none(static_cast<size_t>(m_symsPerKeycode), NoSymbol);
    bool restored = false;
    for (Spare& spare : m_spares) {
        if (!spare.keysym)
            continue;
        XChangeKeyboardMapping(display, static_cast<int>(spare.keycode), m_symsPerKeycode, none.data(), 1);
        spare.keysym = 0;
        restored = true;
    }
    if (restored)
        m_x.takeError();
}

std::optional<SyntheticInput::Modifiers> XTestInput::readModifiers(unsigned* locked)
{
    Display* display = m_x.handle();
    XkbStateRec state {};
    if (!display || XkbGetState(display, XkbUseCoreKbd, &state) != Success)
        return std::nullopt;
    if (locked)
        *locked = state.locked_mods;
    // The group the next key is read in, latched or locked, by the user's switch or anyone's.
    m_group = state.group;
    m_numLocked = m_numLockMask && (state.locked_mods & m_numLockMask) == m_numLockMask;
    takeMappingChanges();
    // Keys down now; a Caps Lock or Num Lock that is on but not held is locked, not down.
    if (state.base_mods != 0)
        return Modifiers::down;
    // Sticky keys leave a modifier latched for the next key, or locked until pressed again.
    if (state.latched_mods != 0 || (state.locked_mods & ~(LockMask | m_numLockMask)) != 0)
        return Modifiers::latched;
    return Modifiers::free;
}

SyntheticInput::Modifiers XTestInput::modifiers()
{
    return readModifiers().value_or(Modifiers::unreadable);
}

std::chrono::milliseconds XTestInput::keyDelay(unsigned long keysym)
{
    constexpr std::chrono::milliseconds kPingPoll {5};
    if (pingPending())
        return kPingPoll;
    if (place(keysym, m_group) || m_spares.empty())
        return std::chrono::milliseconds(0);
    if (freeSpare()) {
        // Bound in the wait rather than at the post, so the application reads the new mapping
        // before the key comes.
        if (bindSpare(keysym) && pingFocus())
            return kPingPoll;
        return std::chrono::milliseconds(0);
    }
    qint64 soonest = kSpareKeyHoldMs;
    for (const Spare& spare : m_spares)
        soonest = std::min(soonest, kSpareKeyHoldMs - spare.used.elapsed());
    return std::chrono::milliseconds(std::max<qint64>(soonest, 1));
}

bool XTestInput::pingFocus()
{
    Display* display = m_x.handle();
    if (!display)
        return false;
    const Window root = DefaultRootWindow(display);
    const Atom ping = XInternAtom(display, "_NET_WM_PING", False);
    const auto takesPings = [&](Window window) {
        Atom* list = nullptr;
        int count = 0;
        if (!XGetWMProtocols(display, window, &list, &count))
            return false;
        const bool found = std::find(list, list + count, ping) != list + count;
        XFree(list);
        return found;
    };
    // The focus is often on a child of the top-level window that takes pings, or on the root
    // (focus follows the pointer) where the window manager's active window says which.
    Window focus = None;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    Window target = None;
    for (int depth = 0; depth < 16 && focus != None && focus != PointerRoot && focus != root; ++depth) {
        if (takesPings(focus)) {
            target = focus;
            break;
        }
        Window parentOf = None;
        Window rootOf = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, focus, &rootOf, &parentOf, &children, &count))
            break;
        if (children)
            XFree(children);
        focus = parentOf;
    }
    if (target == None)
        if (const std::optional<quint64> active = m_x.activeWindow(); active && takesPings(static_cast<Window>(*active)))
            target = static_cast<Window>(*active);
    if (m_x.takeError() || target == None)
        return false;
    // The answer goes to the root, to whoever listens for its children's changes or, as Qt sends
    // it, for its own.
    XSelectInput(display, root, SubstructureNotifyMask | StructureNotifyMask);
    XEvent event {};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(ping);
    event.xclient.data.l[1] = ++m_pingStamps;
    event.xclient.data.l[2] = static_cast<long>(target);
    XSendEvent(display, target, False, NoEventMask, &event);
    if (m_x.takeError()) {
        XSelectInput(display, root, NoEventMask);
        return false;
    }
    m_ping = Ping {target, m_pingStamps, {}};
    m_ping->sent.start();
    // Typing that ends before the answer does not leave the root's changes coming in all day.
    QTimer::singleShot(kPingPatienceMs + 100, this, [this] { pingPending(); });
    return true;
}

bool XTestInput::pingPending()
{
    Display* display = m_x.handle();
    if (!display || !m_ping)
        return false;
    // Reads what has come in without waiting for more.
    XEventsQueued(display, QueuedAfterReading);
    takeMappingChanges();
    if (m_ping && m_ping->sent.elapsed() >= kPingPatienceMs) {
        // One that does not answer in time is not waited for longer: its key goes as it used to.
        logline::info(QStringLiteral("input: the focused window did not answer a ping in %1 ms; typing on").arg(kPingPatienceMs));
        m_ping.reset();
        XSelectInput(display, DefaultRootWindow(display), NoEventMask);
    }
    return m_ping.has_value();
}

SyntheticInput::Post XTestInput::key(unsigned long keysym, unsigned held)
{
    Display* display = m_x.handle();
    if (!display || !m_xtest || keysym == 0)
        return Post::failed;
    // The last look before the post: a modifier the user pressed since the gate's wait would make
    // a combination of its own.
    unsigned locked = 0;
    if (readModifiers(&locked) != Modifiers::free)
        return Post::notNow;
    const bool shortcut = (held & ~KeyCombination::heldShift) != 0;
    if (pingPending())
        return Post::notNow;
    std::optional<Place> where = place(keysym, m_group, shortcut);
    if (!where && !m_spares.empty() && !freeSpare())
        return Post::notNow;
    if (!where) {
        // Given back since the wait bound it: bound again, and read before its key as well.
        where = bindSpare(keysym);
        if (where && pingFocus())
            return Post::notNow;
    }
    if (!where)
        return Post::failed;
    if (where->shifted)
        held |= KeyCombination::heldShift;

    std::vector<unsigned> modifiers;
    // A modifier on no key would turn "ctrl+c" into a plain "c": nothing is posted then.
    bool placed = true;
    const auto addModifier = [&](unsigned bit, unsigned long left, unsigned long right) {
        if (!(held & bit))
            return;
        if (const std::optional<Place> found = place(left, m_group, true))
            modifiers.push_back(found->keycode);
        else if (const std::optional<Place> other = place(right, m_group, true))
            modifiers.push_back(other->keycode);
        else
            placed = false;
    };
    addModifier(KeyCombination::heldControl, XK_Control_L, XK_Control_R);
    addModifier(KeyCombination::heldAlt, XK_Alt_L, XK_Alt_R);
    addModifier(KeyCombination::heldShift, XK_Shift_L, XK_Shift_R);
    addModifier(KeyCombination::heldSuper, XK_Super_L, XK_Super_R);
    if (!placed)
        return Post::failed;

    // Caps Lock would turn the case of a letter (and, in some toolkits, of any character with a
    // case): it is let go for this key alone, in the same stream of requests, and locked again.
    const bool capsLocked = (locked & LockMask) != 0;
    if (capsLocked)
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, 0);
    for (unsigned code : modifiers)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    XTestFakeKeyEvent(display, where->keycode, True, CurrentTime);
    XTestFakeKeyEvent(display, where->keycode, False, CurrentTime);
    for (auto code = modifiers.rbegin(); code != modifiers.rend(); ++code)
        XTestFakeKeyEvent(display, *code, False, CurrentTime);
    if (capsLocked)
        XkbLockModifiers(display, XkbUseCoreKbd, LockMask, LockMask);
    XFlush(display);
    for (Spare& spare : m_spares)
        if (spare.keycode == where->keycode && spare.keysym) {
            spare.used.start();
            m_restore.start(kSpareKeyHoldMs);
        }
    return Post::posted;
}

int XTestInput::doubleClickMilliseconds()
{
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return QGuiApplication::styleHints()->mouseDoubleClickInterval();
    return 400;
}
