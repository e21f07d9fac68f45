#pragma once

#include <gtest/gtest.h>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenReader.h"
#include "support/RunTask.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QtConcurrent>

#include <csignal>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>

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

// The assistant's hands on the real desktop with the computer-control setting on; the checks are
// the real ones unless a test sets its own.
inline ComputerActions::Ports desktopPorts(ComputerControl& control,
                                           std::shared_ptr<SnapshotSource> screen = std::make_shared<WholeScreen>())
{
    ComputerActions::Ports ports;
    ports.screen = std::move(screen);
    ports.control = &control;
    ports.enabled = [] { return true; };
    return ports;
}

// Runs `job` on the controls reader's thread and gives what it gives, this thread's event loop
// turning meanwhile as the program's does (the reader's first start waits for it to rest).
template <typename Job>
auto onReaderThread(Job job)
{
    auto running = QtConcurrent::run(ControlsReader::pool(), std::move(job));
    waitUntil([&] { return running.isFinished(); }, std::chrono::minutes(5));
    return running.result();
}

// Reads the controls of the application `pid` until `enough` holds for a reading or `timeout` has
// passed; whether it held.
template <typename Enough>
bool readControlsUntil(qint64 pid, Enough enough, std::chrono::milliseconds timeout)
{
    const QDeadlineTimer deadline(timeout);
    do {
        if (const auto geometry = DisplayGeometry::mainDisplay()) {
            const DisplayGeometry where = *geometry;
            if (enough(onReaderThread([pid, where] { return ControlsReader::read(pid, where); })))
                return true;
        } else {
            waitUntil([] { return false; }, std::chrono::milliseconds(20));
        }
    } while (!deadline.hasExpired());
    return false;
}

// The user's own click, on a connection of their own.
inline void userClick(QPointF at, unsigned button)
{
    const auto geometry = DisplayGeometry::mainDisplay();
    ASSERT_TRUE(geometry);
    const QPoint pixel = geometry->toPixels(at).toPoint();
    Display* user = XOpenDisplay(nullptr);
    ASSERT_NE(user, nullptr);
    XTestFakeMotionEvent(user, -1, pixel.x(), pixel.y(), CurrentTime);
    XTestFakeButtonEvent(user, button, True, CurrentTime);
    XTestFakeButtonEvent(user, button, False, CurrentTime);
    XSync(user, False);
    XCloseDisplay(user);
}

// Makes the window the active one with the keyboard: through the window manager when one runs (it
// owns the active window and the focus), else by doing its part; 0 undoes it.
inline void activate(quint64 id)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    const Window window = static_cast<Window>(id);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(display, root, XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False), 0, 1, False,
                       XA_WINDOW, &type, &format, &count, &remaining, &data);
    const bool managed = data && count == 1;
    if (data)
        XFree(data);
    if (managed && id) {
        XEvent event {};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = active;
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2; // asked for by a pager: honoured at once
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    } else if (id) {
        XChangeProperty(display, root, active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    } else {
        XDeleteProperty(display, root, active);
        XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    }
    XSync(display, False);
    XCloseDisplay(display);
}

// A window of no application on the accessibility bus, as a terminal or a program without
// accessibility shows one: a bare X window on a connection of its own, which counts the keys that
// reach it.
class BareWindow {
public:
    BareWindow() : m_display(XOpenDisplay(nullptr))
    {
        if (!m_display)
            return;
        const int screen = DefaultScreen(m_display);
        m_window = XCreateSimpleWindow(m_display, RootWindow(m_display, screen), 1300, 600, 400, 300, 0,
                                       BlackPixel(m_display, screen), WhitePixel(m_display, screen));
        XSelectInput(m_display, m_window, KeyPressMask);
        XMapWindow(m_display, m_window);
        XSync(m_display, False);
    }
    ~BareWindow()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    BareWindow(const BareWindow&) = delete;
    BareWindow& operator=(const BareWindow&) = delete;
    quint64 id() const { return m_window; }
    // The keys that reached it so far.
    int keys()
    {
        XSync(m_display, False);
        while (XPending(m_display) > 0) {
            XEvent event;
            XNextEvent(m_display, &event);
            m_keys += event.type == KeyPress ? 1 : 0;
        }
        return m_keys;
    }

private:
    Display* m_display;
    Window m_window = 0;
    int m_keys = 0;
};

// Holds back what the accessibility bus carries, as a loaded desktop does: the bus's own daemon is
// stopped, so the applications' events wait in it, while calls over an application's own connection
// go on. Released when it goes.
class LateBus {
public:
    LateBus()
    {
        QProcess asking;
        asking.start(QStringLiteral("dbus-send"),
                     {QStringLiteral("--session"), QStringLiteral("--print-reply=literal"),
                      QStringLiteral("--dest=org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                      QStringLiteral("org.freedesktop.DBus.GetConnectionUnixProcessID"), QStringLiteral("string:org.a11y.Bus")});
        asking.waitForFinished(10000);
        const qint64 launcher = QString::fromUtf8(asking.readAllStandardOutput()).simplified().section(QLatin1Char(' '), -1).toLongLong();
        // The launcher's own daemon is its child.
        for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
            QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
            if (launcher <= 0 || !stat.open(QIODevice::ReadOnly))
                continue;
            const QString line = QString::fromUtf8(stat.readAll());
            const qsizetype close = line.lastIndexOf(QLatin1Char(')'));
            const QString name = line.mid(line.indexOf(QLatin1Char('(')) + 1, close - line.indexOf(QLatin1Char('(')) - 1);
            const QStringList rest = line.mid(close + 2).split(QLatin1Char(' '));
            if (name == QLatin1String("dbus-daemon") && rest.size() > 1 && rest[1].toLongLong() == launcher)
                m_daemon = entry.toLongLong();
        }
    }
    ~LateBus() { release(); }
    bool found() const { return m_daemon > 0; }
    void hold()
    {
        if (found())
            m_held = ::kill(static_cast<pid_t>(m_daemon), SIGSTOP) == 0;
    }
    void release()
    {
        if (m_held)
            ::kill(static_cast<pid_t>(m_daemon), SIGCONT);
        m_held = false;
    }

private:
    qint64 m_daemon = 0;
    bool m_held = false;
};

#ifdef GTK4_FORM
// The GTK 4 form at a scale, on the accessibility bus; it speaks in lines (see the form).
struct Gtk4Form {
    QProcess process;
    QStringList seen;
    quint64 window = 0;

    // Starts it and waits until it shows; false when it never did.
    bool start(int scale = 1)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GDK_SCALE"), QString::number(scale));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
        env.remove(QStringLiteral("NO_AT_BRIDGE"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(GTK4_FORM)});
        if (!until(QStringLiteral("READY"), std::chrono::seconds(30)))
            return false;
        for (const QString& line : std::as_const(seen))
            if (line.startsWith(QLatin1String("WINDOW ")))
                window = line.mid(7).toULongLong();
        return window != 0;
    }
    void stop()
    {
        process.kill();
        process.waitForFinished(3000);
    }
    // Reads its lines until one starting with `prefix` comes.
    bool until(const QString& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        bool found = false;
        waitUntil(
            [&] {
                while (!found && process.canReadLine()) {
                    seen << QString::fromUtf8(process.readLine()).trimmed();
                    found = seen.back().startsWith(prefix);
                }
                return found;
            },
            timeout);
        return found;
    }
    // Gives it a command and waits for its answer, so every line before it has been read.
    bool command(const QString& line)
    {
        process.write((line + QLatin1Char('\n')).toUtf8());
        return until(QStringLiteral("DONE ") + line);
    }
};
#endif
