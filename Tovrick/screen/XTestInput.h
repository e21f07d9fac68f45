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

// Synthetic input on the X server named by $DISPLAY, through the XTest extension, on a connection of
// its own. Points go through the main display's geometry, the same converter screen reading uses.
class XTestInput : public QObject, public SyntheticInput {
    Q_OBJECT

public:
    using GeometryProvider = std::function<std::optional<DisplayGeometry>()>;

    // `geometry` empty: DisplayGeometry::mainDisplay().
    explicit XTestInput(GeometryProvider geometry = {});
    ~XTestInput() override;

    bool available() override;
    std::optional<QPointF> pointer() override;
    void warp(QPointF point) override;
    void move(QPointF point) override;
    void button(Button button, bool down) override;
    void wheel(int dx, int dy) override;
    bool key(unsigned long keysym, unsigned held) override;
    int doubleClickMilliseconds() override;

    // Keys bound for keysyms of no key are given back this long after the last use: a client reads
    // the new layout only when it gets to the mapping change, which may be after the key itself.
    static constexpr int kSpareKeyHoldMs = 1000;

private:
    struct Place {
        unsigned keycode;
        bool shifted;
    };
    std::optional<DisplayGeometry> geometry();
    QPoint toPixels(QPointF point);
    void loadMapping();
    std::optional<Place> place(unsigned long keysym) const;
    std::optional<Place> bindSpare(unsigned long keysym);
    void restoreSpareKeys();

    X11Display m_x;
    bool m_xtest = false;
    GeometryProvider m_geometry;
    std::optional<DisplayGeometry> m_cachedGeometry;
    QElapsedTimer m_geometryAge;
    int m_minKeycode = 0;
    int m_maxKeycode = 0;
    int m_symsPerKeycode = 0;
    std::vector<unsigned long> m_mapping;
    std::vector<unsigned> m_spares;
    std::vector<unsigned> m_bound;
    size_t m_nextSpare = 0;
    QTimer m_restore;
};
