#include "Tovrick/screen/PointerMotionWatch.h"

#include "Tovrick/screen/X11Display.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

PointerMotionWatch::PointerMotionWatch(QObject* parent) : QObject(parent)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    m_x = std::make_unique<X11Display>();
    if (!*m_x) {
        m_x.reset();
        return;
    }
    Display* display = m_x->handle();
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &m_opcode, &event, &error)
        || XIQueryVersion(display, &major, &minor) != Success) {
        m_x.reset();
        return;
    }
    // Raw motion reaches a root window's listener wherever the pointer is, even under a grab.
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    XISetMask(bits, XI_RawMotion);
    XIEventMask mask { XIAllMasterDevices, static_cast<int>(sizeof bits), bits };
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    if (m_x->takeError()) {
        m_x.reset();
        return;
    }
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &PointerMotionWatch::readEvents);
}

PointerMotionWatch::~PointerMotionWatch() = default;

void PointerMotionWatch::readEvents()
{
    Display* display = m_x->handle();
    bool moved = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        // The event's extension data is not fetched: that it came is all there is to know.
        moved = moved
            || (event.xcookie.type == GenericEvent && event.xcookie.extension == m_opcode
                && event.xcookie.evtype == XI_RawMotion);
    }
    if (moved && onMoved)
        onMoved();
}
