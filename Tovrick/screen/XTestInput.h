#pragma once

#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/SyntheticInput.h"
#include "Tovrick/screen/X11Display.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>
#include <vector>

struct _XkbDesc;

// Synthetic input on the X server named by $DISPLAY, through the XTest extension, on a connection of
// its own. Points go through the main display's geometry, the same converter screen reading uses.
class XTestInput : public QObject, public SyntheticInput {
    Q_OBJECT

public:
    using GeometryProvider = std::function<std::optional<DisplayGeometry>()>;

    // `geometry` empty: DisplayGeometry::mainDisplay().
    explicit XTestInput(GeometryProvider geometry = {});
    ~XTestInput() override;
    XTestInput(const XTestInput&) = delete;
    XTestInput& operator=(const XTestInput&) = delete;

    bool available() override;
    std::optional<QPointF> pointer() override;
    void warp(QPointF point) override;
    void move(QPointF point) override;
    void button(Button button, bool down) override;
    void wheel(int dx, int dy) override;
    Post key(unsigned long keysym, unsigned held) override;
    Modifiers modifiers() override;
    std::chrono::milliseconds keyDelay(unsigned long keysym) override;
    int doubleClickMilliseconds() override;

    // A key bound for a keysym of no key is bound to another only this long after its last use, and
    // all are given back this long after the last key: a client reads the new layout only when it
    // gets to the mapping change, which may be well after the server took the key.
    static constexpr int kSpareKeyHoldMs = 1000;
    // How long a key on a newly bound spare waits for the focused window to answer the ping that
    // follows the binding; a busy browser may take a while.
    static constexpr int kPingPatienceMs = 5000;

private:
    struct Place {
        unsigned keycode;
        bool shifted;
    };
    struct Spare {
        unsigned keycode;
        // What it carries now; 0 when nothing.
        unsigned long keysym = 0;
        QElapsedTimer used;
    };
    std::optional<DisplayGeometry> geometry();
    QPoint toPixels(QPointF point);
    // Reads the layouts again; spare keys that still carry what we bound stay ours.
    void loadMapping();
    // Takes the keyboard's change notices that came in with the last reply; the layouts are read
    // again when one is not about the spare keys alone.
    void takeMappingChanges();
    // The key that gives `keysym` in `group`, the group the server applies to the next key.
    // `shortcut`: a key of another group will do as well (see the definition).
    std::optional<Place> place(unsigned long keysym, unsigned group, bool shortcut = false) const;
    bool onSpareKeys(int first, int count) const;
    std::optional<Place> bindSpare(unsigned long keysym);
    // The spare key that may carry a new keysym now: an empty one, else the longest unused one
    // once it is past its hold; none when every one may still be read.
    Spare* freeSpare();
    void restoreSpareKeys();
    // Asks the window with the keyboard focus to answer a ping (_NET_WM_PING): it answers once it
    // has read every event sent before, the mapping change of a spare key included, and some
    // applications (browsers among them) read a key by the mapping they last read, not the server's.
    // False when no window there takes pings.
    bool pingFocus();
    // Whether the last ping is still to be answered and may still be waited for.
    bool pingPending();
    // The keyboard's state as the gate of a key sees it; none when it cannot be read. Also keeps the
    // active group and takes the layout changes that reached us before it.
    std::optional<Modifiers> readModifiers(unsigned* locked = nullptr);

    X11Display m_x;
    bool m_xtest = false;
    GeometryProvider m_geometry;
    std::optional<DisplayGeometry> m_cachedGeometry;
    QElapsedTimer m_geometryAge;
    int m_minKeycode = 0;
    int m_maxKeycode = 0;
    int m_symsPerKeycode = 0;
    int m_xkbEvent = -1;
    // The modifier that Num Lock locks: like Caps Lock, on for good and no part of a combination.
    unsigned m_numLockMask = 0;
    // Whether Num Lock was locked, and the group, at the last look.
    bool m_numLocked = false;
    unsigned m_group = 0;
    // Every group's keys, levels and key types, as of the last change notice.
    _XkbDesc* m_xkb = nullptr;
    std::vector<Spare> m_spares;
    QTimer m_restore;
    struct Ping {
        unsigned long window = 0;
        long stamp = 0;
        QElapsedTimer sent;
    };
    std::optional<Ping> m_ping;
    long m_pingStamps = 0;
};
