#pragma once

#include <QEventLoop>
#include <QTimer>

#include <chrono>

#include "shared/account/TovrickAccount.h"

// Waits in the event loop until `account` publishes a change that leaves nobody signed in; false
// when none comes within the limit.
inline bool waitForSignedOut(TovrickAccount& account, std::chrono::milliseconds limit = std::chrono::seconds(10))
{
    if (!account.isSignedIn())
        return true;
    QEventLoop loop;
    QObject::connect(&account, &TovrickAccount::sessionChanged, &loop, [&] {
        if (!account.isSignedIn())
            loop.quit();
    });
    QTimer::singleShot(limit, &loop, &QEventLoop::quit);
    loop.exec();
    return !account.isSignedIn();
}
