#include "Tovrick/shell/QuitSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "shared/util/Log.h"

namespace {

constexpr std::array kSignals {SIGTERM, SIGINT, SIGHUP};

// Shared with the handler, which may touch nothing else.
int g_pipe[2] = {-1, -1};
std::array<struct sigaction, kSignals.size()> g_previous {};
std::array<bool, kSignals.size()> g_installed {};

extern "C" void onQuitSignal(int number)
{
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a request: losing this byte loses nothing.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

QString signalName(int number)
{
    switch (number) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(number);
    }
}

} // namespace

QuitSignals::QuitSignals(std::function<void(const QString&)> quit, QObject* parent)
    : QObject(parent), m_quit(std::move(quit))
{
    if (g_pipe[0] != -1) {
        logline::warning(QStringLiteral("quit signals are already watched"));
        return;
    }
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        g_pipe[0] = g_pipe[1] = -1;
        logline::warning(QStringLiteral("quit signals are not watched: no pipe"));
        return;
    }
    m_notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
    for (std::size_t i = 0; i < kSignals.size(); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;
        struct sigaction action {};
        action.sa_handler = &onQuitSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        g_installed[i] = ::sigaction(kSignals[i], &action, &g_previous[i]) == 0;
    }
}

QuitSignals::~QuitSignals()
{
    if (!m_notifier)
        return;
    for (std::size_t i = 0; i < kSignals.size(); ++i)
        if (g_installed[i]) {
            ::sigaction(kSignals[i], &g_previous[i], nullptr);
            g_installed[i] = false;
        }
    delete m_notifier;
    ::close(g_pipe[0]);
    ::close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

void QuitSignals::readPipe()
{
    unsigned char bytes[16];
    ssize_t count = 0;
    int first = 0;
    while ((count = ::read(g_pipe[0], bytes, sizeof bytes)) > 0)
        if (!first)
            first = bytes[0];
    if (!first || m_quitting)
        return;
    m_quitting = true;
    const QString name = signalName(first);
    logline::info(QStringLiteral("%1 received: quitting").arg(name));
    if (m_quit)
        m_quit(name);
}
