#include "shared/art/Palette.h"

QColor Color::tovrickHex(quint32 hex)
{
    return QColor::fromRgb((hex >> 16) & 0xff, (hex >> 8) & 0xff, hex & 0xff);
}

QGradientStops Palette::bodyGradient()
{
    return { { 0.0, Color::tovrickHex(bodyTop) },
             { 1.0 / 3.0, Color::tovrickHex(bodyUpper) },
             { 2.0 / 3.0, Color::tovrickHex(bodyLower) },
             { 1.0, Color::tovrickHex(bodyBottom) } };
}
