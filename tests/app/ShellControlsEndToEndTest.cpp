#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

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
    EXPECT_EQ(app.focus().current()->detail, QStringLiteral("Stopped with Ctrl+Alt+S"));
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

TEST(ShellControlsEndToEnd, ChosenFoldersAreKeptOnceEachAndTheAppMenuReachesTheDesktop)
{
    useOneMemoryVault();
    FocusWorld world;
    AppDelegate app(world.environment(), 0);
    app.launched();

    std::optional<QString> answer;
    int quits = 0;
    int hides = 0;
    QList<QUrl> opened;
    ShellControls::Parts parts {&app.overlay(), &app.focus(), &app.codex(),
                                [&]() -> RealtimeHost& { return app.host(); }, [] {}};
    ShellControls::Ports ports;
    ports.hotKeys = false;
    ports.chooseFolder = [&](std::function<void(std::optional<QString>)> done) { done(answer); };
    ports.quit = [&] { ++quits; };
    ports.hide = [&] { ++hides; };
    ports.openUrl = [&](const QUrl& url) { opened << url; };
    ports.codingAgentInstalled = [] { return true; };
    ShellControls shell(std::move(parts), std::move(ports));

    QTemporaryDir folder;
    const QString engine = folder.filePath(QStringLiteral("engine"));
    const QString website = folder.filePath(QStringLiteral("website"));
    QDir().mkpath(engine);
    QDir().mkpath(website);
    Settings::shared().remove(QStringLiteral("codexFolders"));
    struct Step {
        const char* name;
        std::optional<QString> chosen;
        QStringList kept;
    };
    const Step steps[] = {
        {"a folder with a trailing slash", engine + QStringLiteral("/"), {engine}},
        {"the same folder again", engine, {engine}},
        {"the chooser cancelled", std::nullopt, {engine}},
        {"a second folder", website, {engine, website}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.name);
        answer = step.chosen;
        shell.perform(ShellAction::addFolder);
        EXPECT_EQ(Settings::shared().stringList(QStringLiteral("codexFolders")).value_or(QStringList()), step.kept);
        EXPECT_EQ(shell.state().folders, step.kept) << "the menu shows what is kept";
    }
    shell.perform(ShellAction::forgetFolders);
    EXPECT_TRUE(shell.state().folders.isEmpty());

    shell.perform(ShellAction::openNotes);
    ASSERT_EQ(opened.size(), 1);
    EXPECT_TRUE(QDir(opened[0].toLocalFile()).exists()) << "the notes folder is made before it is opened";
    shell.perform(ShellAction::hide);
    shell.perform(ShellAction::quit);
    EXPECT_EQ(hides, 1);
    EXPECT_EQ(quits, 1);
    TovrickAccount::shared().clearSession();
}
