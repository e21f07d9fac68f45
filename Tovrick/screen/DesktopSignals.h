#pragma once

#include <QString>

#include <memory>
#include <optional>

struct FrontmostApp {
    QString name; // the window class, else the window title; may be empty
    qint64 pid = 0; // 0 when the window does not say

    friend bool operator==(const FrontmostApp&, const FrontmostApp&) = default;
};

// What the focus engine reads of the user's desktop between readings of the screen. Cheap calls
// (one round trip each), fine on the main thread.
class DesktopSignals {
public:
    virtual ~DesktopSignals() = default;
    // Seconds since the user's last keyboard or pointer input; 0 when unknown.
    virtual double idleSeconds() = 0;
    // The application owning the active window; none when no window is active.
    virtual std::optional<FrontmostApp> frontmostApp() = 0;
};

// The X11 desktop: the screen-saver extension's idle counter and the window manager's
// active-window hints. Keeps one connection to the display, opened on first use.
class X11DesktopSignals : public DesktopSignals {
public:
    X11DesktopSignals();
    ~X11DesktopSignals() override;
    X11DesktopSignals(const X11DesktopSignals&) = delete;
    X11DesktopSignals& operator=(const X11DesktopSignals&) = delete;

    double idleSeconds() override;
    std::optional<FrontmostApp> frontmostApp() override;

private:
    struct Connection;
    std::unique_ptr<Connection> m_connection;
};
