#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class X11Display;

// Everything the program does on the desktop (the character, capture, input, hot keys) is X11, and
// Qt ends the process when its display cannot be opened. So the display is tried first, and a
// session without one (Wayland without Xwayland, a console) gets one sentence instead.
class X11Session {
public:
    X11Session();
    ~X11Session();

    // Makes Qt use X11 unless its platform was chosen (QT_QPA_PLATFORM or "-platform"), then tries the
    // display. The sentence to print when there is none; none when the program can go on.
    std::optional<QString> problem(const QStringList& arguments);

    // Lets the trial connection go, once Qt has its own. Until then it stays open: a server whose
    // last client leaves resets itself, and refuses connections while it does. Also takes back the
    // platform choice from the environment that processes started later inherit.
    void release();

private:
    std::unique_ptr<X11Display> m_trial;
    bool m_choseX11 = false;
};
