#pragma once

#include "Tovrick/screen/DesktopSignals.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QRect>

#include <optional>

struct _XDisplay;

// One connection of our own to the X server (never Qt's), usable from any one thread at a time.
// X protocol errors on it are recorded rather than ending the process.
class X11Display {
public:
    // `name` empty: the display named by $DISPLAY.
    explicit X11Display(const QByteArray& name = {});
    ~X11Display();
    X11Display(const X11Display&) = delete;
    X11Display& operator=(const X11Display&) = delete;

    explicit operator bool() const { return m_display != nullptr; }
    int rootWidth() const;
    int rootHeight() const;

    // The root window's pixels inside `area` (clipped to the root), as Format_RGB32. Uses shared
    // memory when the server offers it, else a plain image read. Throws ScreenReaderError
    // (captureFailed) when the server returns nothing.
    QImage capture(QRect area);

    // The window the window manager marks active (_NET_ACTIVE_WINDOW); none when no window is.
    std::optional<quint64> activeWindow();
    // The application of the window the window manager marks active.
    std::optional<FrontmostApp> activeWindowApp();

    // A shown top-level window of an application: its client area and, under a reparenting window
    // manager, the frame around it (else the client area again), in root pixels.
    struct PlacedWindow {
        quint64 id = 0;
        QRect client;
        QRect frame;
        // _NET_WM_NAME, else WM_NAME; may be empty.
        QString title;
    };
    // The viewable top-level windows whose _NET_WM_PID is `pid`: the root's children and the
    // window manager's client list.
    QList<PlacedWindow> windowsOf(qint64 pid);
    // The root's child that holds `window`: its frame under a reparenting window manager, else itself.
    quint64 topLevelOf(quint64 window);
    // The window keys go to now: the input focus, or the root's child under the pointer when the
    // focus follows the pointer or is the root; 0 when keys go nowhere.
    quint64 keyWindow();
    // The process that owns a top-level window (_NET_WM_PID of it or of the client in its frame);
    // 0 when none says.
    qint64 ownerOf(quint64 topLevel);
    // Whether the window still exists.
    bool exists(quint64 window);
    // The topmost shown top-level window that takes the pointer at `pixel` (windows whose input
    // shape leaves the point out, such as the character's, and those of process `lookThrough` are
    // looked through), and the process that owns it (_NET_WM_PID of the window or of the client in
    // its frame; 0 when none says).
    struct WindowAt {
        PlacedWindow window;
        qint64 pid = 0;
    };
    std::optional<WindowAt> windowAt(QPoint pixel, qint64 lookThrough = 0);

    // The pointer on the root window, in pixels; none when it is on another screen.
    std::optional<QPoint> pointer();

    // Seconds since the last user input, from the screen-saver extension; none without it.
    std::optional<double> idleSeconds();

    // Whether shared-memory capture was used by the last `capture` (for the benchmark and tests).
    bool lastCaptureUsedSharedMemory() const { return m_usedShm; }

    // The raw connection, for requests this class does not wrap; errors on it are still recorded.
    _XDisplay* handle() const { return m_display; }
    // Waits for the server and says whether a request since the last call failed.
    bool takeError();

private:
    QImage captureShared(QRect area);
    QImage capturePlain(QRect area);

    _XDisplay* m_display = nullptr;
    bool m_usedShm = false;
};
