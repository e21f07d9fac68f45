#pragma once

#include <QColor>
#include <QGradientStops>

// A colour from a 24-bit 0xRRGGBB value, fully opaque.
struct Color {
    static QColor tovrickHex(quint32 hex);
};

// The product's named colours. The character's body is the four-stop gradient, top to bottom.
struct Palette {
    static constexpr quint32 ink = 0x221B35;         // outlines, pupils, hat
    static constexpr quint32 bodyTop = 0xC3B2FF;
    static constexpr quint32 bodyUpper = 0xA08BFF;
    static constexpr quint32 bodyLower = 0x8069F4;
    static constexpr quint32 bodyBottom = 0x6250D8;
    static constexpr quint32 hatBand = 0xFF5D73;
    static constexpr quint32 cheek = 0xFF8DB4;
    static constexpr quint32 mouth = 0x3A1730;
    static constexpr quint32 tongue = 0xFF7A8F;
    static constexpr quint32 paper = 0xFFFFFF;       // eye whites, bubbles, photo frame
    static constexpr quint32 leftClick = 0x3FC8F2;   // ring of a left click
    static constexpr quint32 rightClick = 0xFFA53D;  // ring of a right click

    // The body gradient's stops at 0, 1/3, 2/3 and 1.
    static QGradientStops bodyGradient();
};
