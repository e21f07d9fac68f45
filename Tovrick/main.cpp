#include <QGuiApplication>

#include "shared/account/SignInCallbackRelay.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Log.h"

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("Tovrick"));
    QGuiApplication::setOrganizationName(QStringLiteral("Tovrick"));

    // The browser starts a second copy with the sign-in answer: the running one finishes the sign-in.
    const QUrl callback = SignInCallbackRelay::callbackArgument(QGuiApplication::arguments());
    if (!callback.isEmpty() && SignInCallbackRelay::handOver(callback))
        return 0;
    SignInCallbackRelay signInRelay;
    signInRelay.listen([](const QUrl& url) { TovrickAccount::shared().handleCallbackURL(url); });

    logline::info(QStringLiteral("started"));
    return QGuiApplication::exec();
}
