#include "Tovrick/focus/FocusCompanion.h"

#include "Tovrick/focus/SessionSignals.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReader.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Settings.h"

namespace {

// The reader is held by the task itself, so a capture outlives an engine destroyed meanwhile.
QCoro::Task<ScreenSnapshot> captureWith(std::shared_ptr<ScreenReader> reader)
{
    ScreenSnapshot snapshot = co_await reader->snapshot();
    ScreenCaptureAccess::shared().setConfirmedByCapture(true);
    co_return snapshot;
}

} // namespace

FocusEnvironment FocusEnvironment::production()
{
    // One watcher of the login session for the whole run.
    static LogindSessionSignals* loginSession = new LogindSessionSignals();
    auto reader = std::make_shared<ScreenReader>();
    auto desktop = std::make_shared<X11DesktopSignals>();

    FocusEnvironment environment;
    environment.now = &uptimeSeconds;
    environment.permission = [] {
        // A capture that worked is proof enough; else the program's display connection must be up.
        ScreenCaptureAccess& access = ScreenCaptureAccess::shared();
        return access.confirmedByCapture() || access.preflight();
    };
    environment.hasAccount = [] { return TovrickAccount::shared().isSignedIn(); };
    environment.capture = [reader] { return captureWith(reader); };
    environment.classify = [](ScreenSnapshot snapshot, FocusSession session, double idleSeconds) {
        return FocusAPI::classify(std::move(snapshot), std::move(session), idleSeconds);
    };
    environment.prepareNudge = [](ScreenSnapshot snapshot, QString task) {
        return FocusAPI::prepareNudge(std::move(snapshot), std::move(task));
    };
    environment.screenUnlocked = [] { return loginSession->screenUnlocked(); };
    environment.idleSeconds = [desktop] { return desktop->idleSeconds(); };
    environment.frontmostApp = [desktop] { return desktop->frontmostApp(); };
    environment.sessionSignals = loginSession;
    environment.settings = &Settings::shared();
    environment.historyFolder = AppPaths::appFolder();
    return environment;
}
