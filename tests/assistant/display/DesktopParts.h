#pragma once

#include <gtest/gtest.h>

#include "Tovrick/screen/ScreenReader.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

// A reading of the whole display, so grid points are root pixels over 1000 (1920 x 1080).
struct WholeScreen : SnapshotSource {
    QCoro::Task<ScreenSnapshot> snapshot() override
    {
        ScreenSnapshot reading;
        reading.size = QSizeF(1920, 1080);
        reading.jpeg = QByteArray("jpeg");
        co_return reading;
    }
};

// The window manager's part: the window is active and has the keyboard; 0 undoes it.
inline void activate(quint64 id)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    const Window window = static_cast<Window>(id);
    if (id) {
        XChangeProperty(display, DefaultRootWindow(display), active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    } else {
        XDeleteProperty(display, DefaultRootWindow(display), active);
        XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    }
    XSync(display, False);
    XCloseDisplay(display);
}
