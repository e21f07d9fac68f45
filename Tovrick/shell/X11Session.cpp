#include "Tovrick/shell/X11Session.h"

#include "Tovrick/screen/X11Display.h"

X11Session::X11Session() = default;

X11Session::~X11Session() = default;

void X11Session::release()
{
    m_trial.reset();
    // Qt has chosen its platform; what the program starts (apps, links, the coding agent) gets the
    // user's own environment.
    if (m_choseX11)
        qunsetenv("QT_QPA_PLATFORM");
    m_choseX11 = false;
}

std::optional<QString> X11Session::problem(const QStringList& arguments)
{
    for (const QString& argument : arguments)
        if (argument == QStringLiteral("-platform") || argument == QStringLiteral("--platform")
            || argument.startsWith(QStringLiteral("-platform=")) || argument.startsWith(QStringLiteral("--platform="))
            || argument == QStringLiteral("-display") || argument == QStringLiteral("--display"))
            return std::nullopt; // chosen on the command line: Qt's own choice and its own messages
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty()) {
        qputenv("QT_QPA_PLATFORM", "xcb"); // never Wayland: nothing here works there
        m_choseX11 = true;
    }
    else if (!platform.startsWith("xcb"))
        return std::nullopt; // offscreen and the like, for tests and pictures
    m_trial = std::make_unique<X11Display>();
    if (*m_trial)
        return std::nullopt;
    m_trial.reset();
    const QString display = qEnvironmentVariable("DISPLAY");
    const QString why = display.isEmpty() ? QStringLiteral("DISPLAY is not set")
                                          : QStringLiteral("the display %1 cannot be opened").arg(display);
    return QStringLiteral("Tovrick needs an X11 session (or Xwayland): %1.").arg(why);
}
