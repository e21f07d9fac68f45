#include <QFileInfo>
#include <QApplication>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "Tovrick/AppDelegate.h"
#include "Tovrick/FocusLinkProbe.h"
#include "Tovrick/FocusSelfTest.h"
#include "Tovrick/screen/ScreenPermissionCheck.h"
#include "Tovrick/shell/AppFonts.h"
#include "Tovrick/shell/AppIcon.h"
#include "Tovrick/shell/CommandLine.h"
#include "Tovrick/shell/DemoModes.h"
#include "Tovrick/shell/QuitSignals.h"
#include "Tovrick/shell/SingleInstance.h"
#include "Tovrick/shell/X11Session.h"
#include "shared/account/TovrickAccount.h"
#include "shared/account/TovrickConfiguration.h"
#include "shared/util/Log.h"
#include "shared/util/ThreadLimit.h"

namespace {

// Runs one command-line check on the event loop and answers its exit status.
int runCheck(const QStringList& arguments)
{
    const bool developer = arguments.contains(QStringLiteral("--focus-developer-test"));
    const bool nudge = arguments.contains(QStringLiteral("--focus-nudge-test"));
    int status = 1;
    QTimer::singleShot(0, [&] {
        [](bool developerMode, bool nudgeRun, int* result) -> QCoro::Task<> {
            auto probing = FocusLinkProbe::run(developerMode, nudgeRun);
            *result = co_await probing;
            QCoreApplication::exit(*result);
        }(developer, nudge, &status);
    });
    QGuiApplication::exec();
    return status;
}

// What a later start asked for, as the arguments it hands to the running one.
QStringList handedArguments(const CommandLine& line)
{
    QStringList arguments;
    if (line.pair)
        arguments << QStringLiteral("--pair");
    if (!line.link.isEmpty())
        arguments << QString::fromUtf8(line.link.toEncoded());
    return arguments;
}

// Acts on the arguments of this start or of a later one. A later start that asks for nothing in
// particular (the application list, say) brings the focus window up.
void openArguments(AppDelegate& delegate, const CommandLine& line, bool laterStart)
{
    if (!line.link.isEmpty())
        TovrickAccount::shared().handleCallbackURL(line.link);
    if (line.pair)
        QTimer::singleShot(600, &delegate, [&delegate] { delegate.showPairingPanel(); });
    if (laterStart) {
        if (!line.link.isEmpty())
            logline::info(QStringLiteral("a later start handed over a sign-in link"));
        if (line.pair)
            logline::info(QStringLiteral("a later start asked for the pairing window"));
        if (line.link.isEmpty() && !line.pair) {
            logline::info(QStringLiteral("a later start asked for the focus window"));
            delegate.showFocusWindow();
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    limitOpenMpThreads(argv);
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i)
        rawArguments << QString::fromLocal8Bit(argv[i]);
    // Read before anything opens a display, so these work anywhere.
    const CommandLine line = CommandLine::parse(rawArguments);
    switch (line.action) {
    case CommandLine::Action::help:
        std::fputs(CommandLine::helpText(QFileInfo(rawArguments.value(0)).fileName()).toLocal8Bit().constData(),
                   stdout);
        return 0;
    case CommandLine::Action::version:
        std::fputs(CommandLine::versionText().toLocal8Bit().constData(), stdout);
        return 0;
    case CommandLine::Action::refuse:
        std::fprintf(stderr, "%s\n", line.problem.toLocal8Bit().constData());
        return 2;
    case CommandLine::Action::run:
        break;
    }
    X11Session session;
    if (const auto problem = session.problem(rawArguments)) {
        std::fprintf(stderr, "%s\n", problem->toLocal8Bit().constData());
        return 1;
    }

    // The program's windows are small panels over the desktop: the software scene graph draws them
    // for a fraction of the memory a GL context per window takes (about 100 MB with Mesa's
    // software GL). QT_QUICK_BACKEND still chooses when set.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Widgets only for the desktop's file dialog (choosing reminder images).
    QApplication app(argc, argv);
    session.release();
    QGuiApplication::setApplicationName(QStringLiteral("Tovrick"));
    QGuiApplication::setOrganizationName(QStringLiteral("Tovrick"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tovrick"));
    const QStringList arguments = QGuiApplication::arguments();

    // The link checks come first, then the judge checks.
    for (const char* probe : { "--focus-link-test", "--focus-developer-test", "--focus-nudge-test" })
        if (arguments.contains(QString::fromLatin1(probe)))
            return runCheck(arguments);
    if (arguments.contains(QStringLiteral("--focus-api-test")) || arguments.contains(QStringLiteral("--focus-screen-test")))
        return runFocusSelfTest(arguments.contains(QStringLiteral("--focus-screen-test")));
    if (arguments.contains(QStringLiteral("--screen-permission-check")))
        return runScreenPermissionCheck();

    // One companion per user session: a later start hands over what it was asked and ends. A demo or
    // capture run stands apart from it.
    AppDelegate* running = nullptr;
    SingleInstance instance;
    if (!DemoModes::requested()) {
        const bool claimed = instance.claim([&running](const QStringList& handed) {
            if (running)
                openArguments(*running, CommandLine::parse(QStringList {QStringLiteral("tovrick")} + handed), true);
        });
        if (!claimed) {
            if (instance.handOver(handedArguments(line)))
                return 0;
            std::fprintf(stderr, "tovrick: another Tovrick is running in this session but did not answer\n");
            return 1;
        }
    }
    if (!TovrickConfiguration::apiBaseURL())
        logline::warning(QStringLiteral("no address for the product's API: set TOVRICK_API_URL to its https address "
                                        "(TOVRICK_API_URL=https://api.example.com/ tovrick)"));

    const QStringList fonts = appFonts::registerFolder();
    if (!fonts.isEmpty())
        logline::info(QStringLiteral("fonts registered: %1").arg(fonts.join(QStringLiteral(", "))));
    QGuiApplication::setWindowIcon(appIcon::icon());

    AppDelegate delegate;
    running = &delegate;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::terminating);
    // Being told to end (logout, shutdown, kill, Ctrl+C) is a Quit like any other.
    const QuitSignals quitSignals([](const QString&) { QCoreApplication::quit(); });
    delegate.launched();
    openArguments(delegate, line, false);
    logline::info(QStringLiteral("started"));
    const int status = QGuiApplication::exec();
    running = nullptr;
    // The account outlives everything else: its requests end here, before the process unwinds.
    TovrickAccount::shared().close();
    return status;
}
