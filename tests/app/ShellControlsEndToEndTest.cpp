#include <gtest/gtest.h>

#include "ProgramFolders.h"
#include "Tovrick/AppDelegate.h"
#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/shell/GlobalHotKeys.h"
#include "Tovrick/shell/ShellControls.h"
#include "focus/FocusFakes.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/Settings.h"
#include "support/RunTask.h"

// Last: Xlib defines words (Status) that the program's own types use.
#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#undef Status

using namespace std::chrono_literals;

namespace {

void pressCtrlAlt(Display* display, KeySym letter)
{
    const auto key = [display](KeySym symbol, bool down) {
        XTestFakeKeyEvent(display, XKeysymToKeycode(display, symbol), down ? True : False, CurrentTime);
    };
    key(XK_Control_L, true);
    key(XK_Alt_L, true);
    key(letter, true);
    key(letter, false);
    key(XK_Alt_L, false);
    key(XK_Control_L, false);
    XSync(display, False);
}

} // namespace

TEST(ShellControlsEndToEnd, CtrlAltSStopsTheCharacterAndPausesTheSessionAndTheMenuResumesIt)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY"))
        GTEST_SKIP() << "needs an X display (scripts/with-test-services starts one)";
    useOneMemoryVault();
    FocusWorld world;
    AppDelegate app(world.environment(), 0);
    app.launched();
    ASSERT_TRUE(app.shell());
    ASSERT_TRUE(app.shell()->hotKeys());
    ASSERT_EQ(app.shell()->hotKeys()->grabbed().size(), shellHotKeys().size());

    ASSERT_TRUE(app.focus().start(QStringLiteral("Write the report"), false, 25).startsWith(QStringLiteral("Focus started")));
    Display* typist = XOpenDisplay(nullptr);
    ASSERT_TRUE(typist);
    pressCtrlAlt(typist, XK_s);
    ASSERT_TRUE(waitUntil([&] { return app.focus().current()->status == FocusSession::Status::paused; }, 5s));
    EXPECT_EQ(app.focus().current()->detail, QStringLiteral("Stopped with ⌃⌥S"));
    EXPECT_FALSE(app.shell()->state().session->running);

    // The menu's item for the same key resumes, as the menu shows it.
    const QList<StatusMenuItem> menu = statusMenu::items(app.shell()->state());
    const auto resume = std::find_if(menu.begin(), menu.end(),
                                     [](const StatusMenuItem& item) { return item.action == ShellAction::pauseOrResume; });
    ASSERT_NE(resume, menu.end());
    EXPECT_EQ(resume->label, QStringLiteral("Resume Focus Session"));
    app.shell()->perform(resume->action, resume->argument);
    EXPECT_EQ(app.focus().current()->status, FocusSession::Status::running);

    // Putting the character to sleep from the keyboard goes through the assistant host, which the
    // phone hears about.
    pressCtrlAlt(typist, XK_z);
    EXPECT_TRUE(waitUntil([&] { return !app.overlay().view().engine().awake(); }, 5s));
    // Follow the mouse is the user's setting, kept for the next run.
    const bool following = Settings::shared().followMouse();
    pressCtrlAlt(typist, XK_m);
    EXPECT_TRUE(waitUntil([&] { return Settings::shared().followMouse() != following; }, 5s));
    EXPECT_EQ(app.overlay().view().engine().homeMode().kind,
              following ? CursorMode::Kind::docked : CursorMode::Kind::following);
    app.shell()->perform(ShellAction::toggleFollowMouse);
    XCloseDisplay(typist);

    // At exit the keys go back to the desktop.
    app.terminating();
    EXPECT_FALSE(app.shell());
    TovrickAccount::shared().clearSession();
}
