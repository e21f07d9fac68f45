#include "Tovrick/screen/ScreenCaptureAccess.h"

#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "Tovrick/screen/X11Display.h"

#include "shared/util/Log.h"

#include <QCoreApplication>
#include <QCoroFuture>
#include <QGuiApplication>
#include <QPointer>
#include <QProcess>
#include <QtConcurrent>

#include <X11/Xlib.h>
#include <poll.h>

namespace {

QCoro::Task<void> captureOnce()
{
    const auto geometry = DisplayGeometry::mainDisplay();
    if (!geometry)
        throw ScreenReaderError::noDisplay();
    const QRect area = geometry->pixels();
    auto capture = [area]() -> std::optional<ScreenReaderError> {
        X11Display display;
        if (!display)
            return ScreenReaderError::noDisplay();
        try {
            display.capture(area);
        } catch (const ScreenReaderError& failure) {
            return failure;
        }
        return std::nullopt;
    };
    auto capturing = QtConcurrent::run(capture);
    const auto error = co_await capturing;
    if (error)
        throw *error;
}

} // namespace

ScreenCaptureAccess& ScreenCaptureAccess::shared()
{
    static ScreenCaptureAccess* instance = new ScreenCaptureAccess;
    return *instance;
}

ScreenCaptureAccess::~ScreenCaptureAccess() = default;

ScreenCaptureAccess::ScreenCaptureAccess(QObject* parent)
    : QObject(parent), testCapture(&captureOnce),
      quit([] { QCoreApplication::quit(); })
{
}

void ScreenCaptureAccess::setMessage(const QString& message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

void ScreenCaptureAccess::setNeedsSettings(bool needsSettings)
{
    if (m_needsSettings == needsSettings)
        return;
    m_needsSettings = needsSettings;
    emit needsSettingsChanged();
}

void ScreenCaptureAccess::setChecking(bool checking)
{
    if (m_checking == checking)
        return;
    m_checking = checking;
    emit checkingChanged();
}

bool ScreenCaptureAccess::preflight() const
{
    // On X11 the program's own display connection is the answer: Qt ends the program when it breaks.
    if (QGuiApplication::platformName() == QLatin1String("xcb")) {
        auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
        return x11 && x11->display();
    }
    // Elsewhere one connection is opened and held, and a broken one is noticed by its socket alone:
    // a probe every few seconds never costs the server a new client.
    if (m_display) {
        pollfd socket { ConnectionNumber(m_display->handle()), POLLIN | POLLRDHUP, 0 };
        if (poll(&socket, 1, 0) <= 0 || !(socket.revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)))
            return true;
        // Never closed: closing a broken connection would end the process in Xlib's I/O error handler.
        static_cast<void>(m_display.release());
    }
    auto display = std::make_unique<X11Display>();
    if (!*display)
        return false;
    m_display = std::move(display);
    return true;
}

QCoro::Task<bool> ScreenCaptureAccess::check()
{
    if (m_checking)
        co_return false;
    setChecking(true);
    QPointer<ScreenCaptureAccess> self(this);
    QString failure;
    try {
        co_await testCapture();
    } catch (const ScreenReaderError& error) {
        failure = error.kind() == ScreenReaderError::Kind::declined
            ? QStringLiteral("Screen capture was declined. Allow Tovrick to record the screen, then recheck.")
            : QStringLiteral("Tovrick couldn't capture the screen: ") + error.description();
    } catch (const std::exception& error) {
        failure = QStringLiteral("Tovrick couldn't capture the screen: ") + QString::fromUtf8(error.what());
    }
    if (!self)
        co_return false;
    setChecking(false);
    if (!failure.isEmpty()) {
        logline::info(QStringLiteral("screen access check failed: ") + failure);
        setMessage(failure);
        setNeedsSettings(true);
        co_return false;
    }
    m_confirmedByCapture = true;
    setNeedsSettings(false);
    setMessage(QString());
    co_return true;
}

void ScreenCaptureAccess::openSettings()
{
    logline::info(QStringLiteral("no screen recording settings on this desktop"));
    setMessage(QStringLiteral("This desktop has no Screen Recording setting: Tovrick reads the display "
                              "directly. Make sure it runs on your display, then press Recheck."));
}

void ScreenCaptureAccess::relaunch()
{
    const QString program = relaunchProgram.isEmpty() ? QCoreApplication::applicationFilePath() : relaunchProgram;
    const QStringList arguments = relaunchProgram.isEmpty() && relaunchArguments.isEmpty()
        ? QCoreApplication::arguments().mid(1)
        : relaunchArguments;
    // The program and its arguments travel as the shell's positional parameters, never inside the
    // script text, so no path or argument is ever parsed by the shell.
    QStringList shellArguments {QStringLiteral("-c"), QStringLiteral("sleep 1; exec \"$0\" \"$@\""), program};
    shellArguments += arguments;
    if (!QProcess::startDetached(relaunchShell, shellArguments)) {
        setMessage(QStringLiteral("Please quit Tovrick and open it again from your desktop's application menu."));
        return;
    }
    if (quit)
        quit();
}
