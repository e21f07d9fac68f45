#include "Tovrick/screen/DesktopSignals.h"

#include "Tovrick/screen/X11Display.h"

#include <cmath>

struct X11DesktopSignals::Connection {
    X11Display display;
};

X11DesktopSignals::X11DesktopSignals() = default;
X11DesktopSignals::~X11DesktopSignals() = default;

double X11DesktopSignals::idleSeconds()
{
    if (!m_connection)
        m_connection = std::make_unique<Connection>();
    const auto seconds = m_connection->display.idleSeconds();
    return seconds && std::isfinite(*seconds) ? *seconds : 0.0;
}

std::optional<FrontmostApp> X11DesktopSignals::frontmostApp()
{
    if (!m_connection)
        m_connection = std::make_unique<Connection>();
    return m_connection->display.activeWindowApp();
}
