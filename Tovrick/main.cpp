#include <QApplication>
#include <QGuiApplication>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QStringList>
#include <QTimer>

#include <cstdio>

#include "Tovrick/AppDelegate.h"
#include "Tovrick/FocusLinkProbe.h"
#include "Tovrick/shell/QuitSignals.h"
#include "shared/account/SignInCallbackRelay.h"
#include "shared/account/TovrickAccount.h"
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

} // namespace

int main(int argc, char** argv)
{
    limitOpenMpThreads(argv);
    // The program's windows are small panels over the desktop: the software scene graph draws them
    // for a fraction of the memory a GL context per window takes (about 100 MB with Mesa's
    // software GL). QT_QUICK_BACKEND still chooses when set.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    // Widgets only for the desktop's file dialog (choosing reminder images).
    QApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Tovrick"));
    QGuiApplication::setOrganizationName(QStringLiteral("Tovrick"));
    const QStringList arguments = QGuiApplication::arguments();

    // The link checks come first, then the judge checks.
    for (const char* probe : { "--focus-link-test", "--focus-developer-test", "--focus-nudge-test" })
        if (arguments.contains(QString::fromLatin1(probe)))
            return runCheck(arguments);
    for (const char* judge : { "--focus-api-test", "--focus-screen-test" }) {
        if (arguments.contains(QString::fromLatin1(judge))) {
            std::fprintf(stdout, "LIVE %s: this check is not available in this build\n", judge);
            return 1;
        }
    }

    // The browser starts a second copy with the sign-in answer: the running one finishes the sign-in.
    const QUrl callback = SignInCallbackRelay::callbackArgument(arguments);
    if (!callback.isEmpty() && SignInCallbackRelay::handOver(callback))
        return 0;
    SignInCallbackRelay signInRelay;
    signInRelay.listen([](const QUrl& url) { TovrickAccount::shared().handleCallbackURL(url); });

    AppDelegate delegate;
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, &AppDelegate::terminating);
    // Being told to end (logout, shutdown, kill, Ctrl+C) is a Quit like any other.
    const QuitSignals quitSignals([](const QString&) { QCoreApplication::quit(); });
    delegate.launched();
    if (!callback.isEmpty())
        TovrickAccount::shared().handleCallbackURL(callback);
    logline::info(QStringLiteral("started"));
    return QGuiApplication::exec();
}
