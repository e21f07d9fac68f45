#include "Tovrick/screen/XTestInput.h"

#include "Tovrick/screen/KeyCombination.h"

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
        loadMapping();
    }
    m_restore.setSingleShot(true);
    connect(&m_restore, &QTimer::timeout, this, &XTestInput::restoreSpareKeys);
}

XTestInput::~XTestInput()
{
    restoreSpareKeys();
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
    XDisplayKeycodes(display, &m_minKeycode, &m_maxKeycode);
    const int count = m_maxKeycode - m_minKeycode + 1;
    KeySym* syms = XGetKeyboardMapping(display, static_cast<KeyCode>(m_minKeycode), count, &m_symsPerKeycode);
    m_mapping.clear();
    m_spares.clear();
    if (!syms)
        return;
    m_mapping.assign(syms, syms + static_cast<size_t>(count) * static_cast<size_t>(m_symsPerKeycode));
    XFree(syms);
    m_numLockMask = XkbKeysymToModifiers(display, XK_Num_Lock);
    // Keys that carry nothing, highest first (the low ones are the ones keyboards have).
    for (int code = m_maxKeycode; code >= m_minKeycode; --code) {
        const auto first = m_mapping.begin() + static_cast<long>(code - m_minKeycode) * m_symsPerKeycode;
        if (std::all_of(first, first + m_symsPerKeycode, [](unsigned long sym) { return sym == NoSymbol; }))
            m_spares.push_back(Spare {static_cast<unsigned>(code), 0, {}});
    }
}

std::optional<XTestInput::Place> XTestInput::place(unsigned long keysym) const
{
    if (m_symsPerKeycode <= 0)
        return std::nullopt;
    // The first group only: its first level unshifted, its second with Shift.
    for (int code = m_minKeycode; code <= m_maxKeycode; ++code) {
        const size_t at = static_cast<size_t>(code - m_minKeycode) * static_cast<size_t>(m_symsPerKeycode);
        if (m_mapping[at] == keysym)
            return Place {static_cast<unsigned>(code), false};
        if (m_symsPerKeycode > 1 && m_mapping[at + 1] == keysym)
            return Place {static_cast<unsigned>(code), true};
    }
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
    std::copy(syms.begin(), syms.end(),
              m_mapping.begin()
                  + static_cast<long>(spare->keycode - static_cast<unsigned>(m_minKeycode)) * m_symsPerKeycode);
    spare->keysym = keysym;
    spare->used.start();
    return Place {spare->keycode, false};
}

void XTestInput::restoreSpareKeys()
{
    Display* display = m_x.handle();
    if (!display)
        return;
    std::vector<KeySym> none(static_cast<size_t>(m_symsPerKeycode), NoSymbol);
    bool restored = false;
    for (Spare& spare : m_spares) {
        if (!spare.keysym)
            continue;
        XChangeKeyboardMapping(display, static_cast<int>(spare.keycode), m_symsPerKeycode, none.data(), 1);
        std::copy(none.begin(), none.end(),
                  m_mapping.begin()
                      + static_cast<long>(spare.keycode - static_cast<unsigned>(m_minKeycode)) * m_symsPerKeycode);
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
    if (place(keysym) || m_spares.empty() || freeSpare())
        return std::chrono::milliseconds(0);
    qint64 soonest = kSpareKeyHoldMs;
    for (const Spare& spare : m_spares)
        soonest = std::min(soonest, kSpareKeyHoldMs - spare.used.elapsed());
    return std::chrono::milliseconds(std::max<qint64>(soonest, 1));
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
    std::optional<Place> where = place(keysym);
    if (!where && !m_spares.empty() && !freeSpare())
        return Post::notNow;
    if (!where)
        where = bindSpare(keysym);
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
        if (const std::optional<Place> found = place(left))
            modifiers.push_back(found->keycode);
        else if (const std::optional<Place> other = place(right))
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
