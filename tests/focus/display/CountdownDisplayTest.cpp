#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QQuickItem>
#include <QQuickView>
#include <QRasterWindow>

#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/screen/OverlayShape.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>

using namespace std::chrono_literals;

namespace {

// Waits until the server has handled everything Qt sent it.
void syncQt()
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    ASSERT_NE(x11, nullptr);
    XSync(x11->display(), False);
}

// Where `window` lies among the root's children, bottom first; -1 when it is not one.
int stackingIndex(Display* display, Window window)
{
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    int index = -1;
    if (XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count)) {
        for (unsigned int i = 0; i < count; ++i)
            if (children[i] == window)
                index = static_cast<int>(i);
        XFree(children);
    }
    return index;
}

TEST(FocusCountdownOnDisplay, NewTextsLeaveTheWindowAloneAndAWindowOverItIsCovered)
{
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    // The software scene graph: the display's GL driver keeps allocations past exit that the leak
    // checker reports.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    FocusCountdown countdown;
    FocusSession session(QStringLiteral("Write"), 600, false);
    countdown.update(session);
    QQuickView* panel = countdown.window();
    ASSERT_NE(panel, nullptr);
    ASSERT_TRUE(waitUntil([&] { return panel->isExposed(); }));

    // Another window of the program over it that puts itself back on top, as the character does.
    QRasterWindow character;
    character.setFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint);
    character.setGeometry(panel->geometry().adjusted(100, 20, -100, -20));
    character.show();
    ASSERT_TRUE(waitUntil([&] { return character.isExposed(); }));

    // Another client watches the countdown's structure while the seconds tick and the session pauses.
    Display* watcher = XOpenDisplay(nullptr);
    ASSERT_NE(watcher, nullptr);
    const auto window = static_cast<Window>(panel->winId());
    XSelectInput(watcher, window, StructureNotifyMask);
    XSync(watcher, False);
    for (int second = 1; second <= 4; ++second) {
        overlayShape::raise(character);
        session.elapsed = second;
        if (second == 3)
            session.pause(QStringLiteral("Paused"));
        countdown.update(session);
        waitUntil([] { return false; }, 100ms);
    }
    syncQt();
    XSync(watcher, False);
    int configures = 0;
    while (XPending(watcher) > 0) {
        XEvent event;
        XNextEvent(watcher, &event);
        configures += event.type == ConfigureNotify ? 1 : 0;
    }
    auto* label = panel->rootObject()->findChild<QQuickItem*>(QStringLiteral("countdownLabel"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->property("text").toString(), QStringLiteral("\u2161 09:56"));
    EXPECT_EQ(configures, 0) << "the window was restacked for new texts of the same size";

    // It was raised only when shown: a window mapped later over it is covered again.
    const Window later = XCreateSimpleWindow(watcher, DefaultRootWindow(watcher), 1000, 700, 900, 380, 0, 0, 0);
    XMapWindow(watcher, later);
    XSync(watcher, False);
    EXPECT_TRUE(waitUntil([&] { return stackingIndex(watcher, window) > stackingIndex(watcher, later); }, 2s));
    XDestroyWindow(watcher, later);
    XCloseDisplay(watcher);
}

} // namespace
