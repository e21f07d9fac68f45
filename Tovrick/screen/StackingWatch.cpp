#include "Tovrick/screen/StackingWatch.h"

#include "Tovrick/screen/X11Display.h"

#include <QGuiApplication>
#include <QSocketNotifier>

#include <X11/Xlib.h>

StackingWatch::StackingWatch(std::function<bool(quint64)> own, QObject* parent)
    : QObject(parent), m_own(std::move(own))
{
    m_coalesce.setSingleShot(true);
    m_coalesce.setInterval(kCoalesceMs);
    connect(&m_coalesce, &QTimer::timeout, this, [this] {
        if (onRestacked)
            onRestacked();
    });
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    // A connection of our own: the root's event mask is per client, and Qt's must stay as Qt set it.
    m_x = std::make_unique<X11Display>();
    if (!*m_x) {
        m_x.reset();
        return;
    }
    Display* display = m_x->handle();
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XFlush(display);
    m_notifier = new QSocketNotifier(ConnectionNumber(display), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &StackingWatch::readEvents);
}

StackingWatch::~StackingWatch() = default;

void StackingWatch::readEvents()
{
    Display* display = m_x->handle();
    bool news = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        Window window = 0;
        if (event.type == MapNotify)
            window = event.xmap.window;
        else if (event.type == ConfigureNotify)
            window = event.xconfigure.window;
        if (window && (!m_own || !m_own(static_cast<quint64>(window))))
            news = true;
    }
    if (news && !m_coalesce.isActive())
        m_coalesce.start();
}
