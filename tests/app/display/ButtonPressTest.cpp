// The program's windows used as a screen reader or a switch device uses them: each control found by
// its accessible name on the accessibility bus and pressed through its Press action, which must do
// what a click does.
#include <QDir>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include "Tovrick/assistant/ReportPanel.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "Tovrick/motivation/MotivationLibrary.h"
#include "app/display/BusPress.h"
#include "focus/FocusWindowWorld.h"
#include "motivation/Mp4Fixtures.h"
#include "shared/account/TovrickSignInView.h"
#include "shared/util/Settings.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "app/display/QuietSound.h"
#include "support/RunTask.h"

namespace {

// The focus window on the display, signed out unless told, with its Sounds page over a real store.
struct Window : FocusWindowWorld {
    LoopbackApi api;
    QuietSound sound;
    MotivationAudioStore store { MotivationAudioStore::Ports {
        std::make_unique<AccountClipOwners>(account), std::make_unique<QuietSound::NoPlayer>(),
        std::make_unique<QuietSound::NoVoice>(), [](qsizetype) { return qsizetype(0); } } };
    MacFocusPanel panel { &account, &access };
    int pairs = 0;
    int opened = 0;
    QUrl page;

    explicit Window(bool signedIn)
    {
        // The engine keeps its developer mode where the program does.
        FocusEnvironment environment = world.environment();
        environment.settings = &Settings::shared();
        engine = std::make_unique<FocusCompanion>(std::move(environment));
        signInForTests(account, api);
        account.clearSession();
        if (signedIn)
            account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
        account.openURL = [this](const QUrl& url) {
            page = url;
            return ++opened > 0;
        };
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.clipStore = &store;
        panel.show(*engine, [this] { ++pairs; });
        panel.sounds()->recordingPorts.recorder = &sound;
        panel.sounds()->recordingPorts.access = &sound;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.window()));
    }
    MacFocusView& view() { return *panel.view(); }
    QQuickItem* item(const char* name) { return findItem(panel.window()->rootObject(), QString::fromUtf8(name)); }
};

} // namespace

TEST(ButtonPress, TheSignInButtonsStartWhatAClickStarts)
{
    Window w(false);
    ASSERT_TRUE(pressOverBus(QStringLiteral("Pair with iPhone instead")));
    EXPECT_EQ(w.pairs, 1);

    ASSERT_TRUE(pressOverBus(QStringLiteral("Continue with Google")));
    ASSERT_TRUE(waitUntil([&] { return w.opened == 1; }));
    EXPECT_EQ(w.api.requestCount(QStringLiteral("auth/google/start")), 1);
    // While the sign-in runs, the buttons are off, and a press does no more than a click would.
    pressOverBus(QStringLiteral("Pair with iPhone instead"));
    EXPECT_EQ(w.pairs, 1);
    const QString state = QUrlQuery(w.page).queryItemValue(QStringLiteral("state"));
    w.account.handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=c").arg(state)));
    EXPECT_TRUE(waitUntil([&] { return w.account.isSignedIn(); }));
}

TEST(ButtonPress, FocusWindowControlsAnswerThePressOnce)
{
    // A press answered twice would step twice or toggle back.
    const auto expanded = [](Window& w) { return w.item("macFocusCustom")->property("expanded").toBool(); };
    struct Case {
        const char* name;
        bool customShown;
        std::function<bool(Window&)> done;
    };
    const Case cases[] = {
        {"30 min", false, [](Window& w) { return w.view().minutes() == 30; }},
        {"Increase custom duration", true, [](Window& w) { return w.view().minutes() == 26; }},
        {"Custom duration", false, expanded},
        {"History", false, [](Window& w) { return w.view().page() == FocusPage::history; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Window w(true);
        w.view().setMinutes(25);
        w.item("macFocusCustom")->setProperty("expanded", c.customShown);
        EXPECT_TRUE(pressOverBus(QString::fromUtf8(c.name)));
        EXPECT_TRUE(waitUntil([&] { return c.done(w); }));
    }
}

TEST(ButtonPress, TheSoundsPageRecordsAndStopsByPresses)
{
    Window w(true);
    w.view().selectPage(static_cast<int>(FocusPage::sounds));
    ASSERT_TRUE(pressOverBus(QStringLiteral("Eigenen Spruch aufnehmen")));
    ASSERT_TRUE(waitUntil([&] { return w.panel.sounds()->sheet()
                                       && w.panel.sounds()->sheet()->phase() == QStringLiteral("recording"); }));
    ASSERT_TRUE(pressOverBus(QStringLiteral("Stop Recording")));
    EXPECT_TRUE(waitUntil([&] { return w.panel.sounds()->sheet()->phase() == QStringLiteral("failed"); }));
}

TEST(ButtonPress, TheReportCardCloses)
{
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    ReportPanel panel;
    ResearchReport report;
    report.title = QStringLiteral("Tides");
    report.paragraphs = {QStringLiteral("The moon pulls the sea.")};
    panel.show(report);
    ASSERT_TRUE(panel.isShown());
    ASSERT_TRUE(pressOverBus(QStringLiteral("Close")));
    EXPECT_TRUE(waitUntil([&] { return !panel.isShown(); }));
}

namespace {

const QString kUser = QStringLiteral("user-1");

// Lets what a press queued run: the store saves on the next turn of the event loop.
void settle()
{
    settleFor(std::chrono::milliseconds(100));
}

MotivationLibrary storedLibrary()
{
    return LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser)).load();
}

// An own recording in the signed-in user's library, named "Clip 0", read when the Sounds page shows.
QString addOwnClip()
{
    const QUuid id = QUuid::createUuid();
    LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser))
        .add(fixtures::mp4Lasting(1.0), id, QStringLiteral("Clip 0"), 1.0);
    return storedLibrary().clips.value(0).id;
}

bool defaultOn(const QString& id)
{
    return !storedLibrary().disabledDefaults.contains(id);
}

bool ownOn(const QString& id)
{
    for (const MotivationClip& clip : storedLibrary().clips)
        if (clip.id == id)
            return clip.enabled;
    return false;
}

std::optional<bool> savedDeveloperMode()
{
    return Settings::shared().boolValue(FocusCompanion::kDeveloperModeKey);
}

} // namespace

TEST(BusSwitches, EachSwitchChangesWhatItStandsForByToggleAndByPress)
{
    struct Case {
        const char* kind;
        FocusPage page;
        QString name;
        std::function<bool()> on;
    };
    for (const char* action : {"Toggle", "Press"}) {
        Settings::shared().remove(FocusCompanion::kDeveloperModeKey);
        QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
        const QString own = addOwnClip();
        Window w(true);
        const Case cases[] = {
            {"default clip", FocusPage::sounds, QStringLiteral("Du schaffst das"), [] { return defaultOn(QStringLiteral("default-1")); }},
            {"own clip", FocusPage::sounds, QStringLiteral("Clip 0"), [own] { return ownOn(own); }},
            {"developer mode", FocusPage::account, QStringLiteral("Developer Mode"), [&w] {
                 return w.engine->developerMode() && savedDeveloperMode() == true; }},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.kind) + " by " + action);
            w.view().selectPage(static_cast<int>(c.page));
            if (c.page == FocusPage::account && !w.item("macAccountDeveloper")->property("expanded").toBool()) {
                ASSERT_TRUE(pressOverBus(QStringLiteral("Developer options")));
            }
            const bool before = c.on();
            ASSERT_TRUE(actOverBus(c.name, QString::fromUtf8(action)));
            EXPECT_TRUE(waitUntil([&] { return c.on() == !before; }));
            // The next visit shows what was saved.
            w.view().selectPage(static_cast<int>(FocusPage::history));
            w.view().selectPage(static_cast<int>(c.page));
            ASSERT_TRUE(actOverBus(c.name, QString::fromUtf8(action)));
            EXPECT_TRUE(waitUntil([&] { return c.on() == before; }));
        }
    }
}

TEST(BusSwitches, ASwitchTheStoreRefusesShowsTheStoresAnswer)
{
    QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
    Window w(true);
    w.view().selectPage(static_cast<int>(FocusPage::sounds));
    ASSERT_TRUE(waitUntil([&] { return w.item("motivationSwitch") != nullptr; }));
    // A folder where the library file goes: the save fails and the switch stays on.
    QDir().mkpath(MotivationAudioStore::directoryFor(kUser) + QStringLiteral("/library.json"));
    ASSERT_TRUE(actOverBus(QStringLiteral("Du schaffst das"), QStringLiteral("Toggle")));
    EXPECT_TRUE(waitUntil([&] { return !w.store.message().isEmpty(); }));
    settle();
    EXPECT_TRUE(w.item("motivationSwitch")->property("checked").toBool());
    EXPECT_TRUE(shownNodeOverBus(w.store.message()).role == QStringLiteral("notification"));
    QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
}

TEST(BusCover, WhatADialogCoversDoesNotAct)
{
    struct Case {
        const char* cover;
        std::function<void(Window&)> open;
        QString behind;
        std::function<bool(Window&)> stillCovered;
    };
    const Case cases[] = {
        {"account deletion", [](Window& w) {
             w.view().selectPage(static_cast<int>(FocusPage::account));
             ASSERT_TRUE(pressOverBus(QStringLiteral("Account deletion")));
             ASSERT_TRUE(pressOverBus(QStringLiteral("Delete Tovrick account\u2026")));
         }, QStringLiteral("Sign out"), [](Window& w) {
             return w.view().confirmDelete() && w.account.isSignedIn()
                 && w.api.requestCount(QStringLiteral("devices/current")) == 0; }},
        {"recording sheet", [](Window& w) {
             w.view().selectPage(static_cast<int>(FocusPage::sounds));
             ASSERT_TRUE(pressOverBus(QStringLiteral("Eigenen Spruch aufnehmen")));
             ASSERT_TRUE(waitUntil([&] { return w.panel.sounds()->sheet() != nullptr; }));
         }, QStringLiteral("Focus"), [](Window& w) {
             return w.panel.sounds()->sheet() && w.view().page() == FocusPage::sounds; }},
        {"clip deletion", [](Window& w) {
             w.view().selectPage(static_cast<int>(FocusPage::sounds));
             ASSERT_TRUE(pressOverBus(QStringLiteral("Clip 0 l\u00f6schen")));
             ASSERT_TRUE(waitUntil([&] { return w.panel.sounds()->deleteDialogShown(); }));
         }, QStringLiteral("History"), [](Window& w) {
             return w.panel.sounds()->deleteDialogShown() && w.view().page() == FocusPage::sounds; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.cover);
        QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
        addOwnClip();
        Window w(true);
        c.open(w);
        ASSERT_TRUE(c.stillCovered(w));
        pressOverBus(c.behind);
        settle();
        EXPECT_TRUE(c.stillCovered(w));
    }
}

TEST(BusTree, TheTextsAUserReadsAreInTheTree)
{
    Window w(false);
    AccountSession session = focusWindowSession(kUser);
    session.email = QStringLiteral("robin@example.com");
    w.account.adoptSession(session);
    w.view().selectPage(static_cast<int>(FocusPage::account));
    w.view().setMessage(QStringLiteral("Developer Mode off."));
    struct Expect {
        QString name;
        const char* role;
    };
    const Expect account[] = {
        {QStringLiteral("Account"), "heading"},
        {QStringLiteral("Robin"), "label"},
        {QStringLiteral("robin@example.com"), "label"},
        {QStringLiteral("Signed in with Apple"), "label"},
        {QStringLiteral("Developer Mode off."), "notification"},
    };
    for (const Expect& e : account)
        EXPECT_EQ(shownNodeOverBus(e.name).role, QString::fromUtf8(e.role)) << e.name.toStdString();

    const BusNode closed = shownNodeOverBus(QStringLiteral("How screen checks work"));
    EXPECT_TRUE(closed.expandable);
    EXPECT_FALSE(closed.expanded);
    ASSERT_TRUE(pressOverBus(QStringLiteral("How screen checks work")));
    EXPECT_TRUE(shownNodeOverBus(QStringLiteral("How screen checks work")).expanded);
    ASSERT_TRUE(pressOverBus(QStringLiteral("Account deletion")));
    ASSERT_TRUE(pressOverBus(QStringLiteral("Developer options")));
    bool namedBar = false;
    for (const BusNode& node : shownOverBus())
        namedBar = namedBar || (node.role == QStringLiteral("scroll bar") && node.name == QStringLiteral("Account"));
    EXPECT_TRUE(namedBar);

    w.view().selectPage(static_cast<int>(FocusPage::sounds));
    for (const char* heading : {"Dein kleiner Motivationsschub.", "Standard-Sounds"})
        EXPECT_EQ(shownNodeOverBus(QString::fromUtf8(heading)).role, QStringLiteral("heading")) << heading;
    ASSERT_TRUE(pressOverBus(QStringLiteral("Eigenen Spruch aufnehmen")));
    // The sheet is named by its title too: both are in the tree, the sheet as a dialog.
    bool heading = false;
    bool dialog = false;
    for (const BusNode& node : shownOverBus()) {
        if (node.name != QStringLiteral("Sag was Motivierendes"))
            continue;
        heading = heading || node.role == QStringLiteral("heading");
        dialog = dialog || node.role == QStringLiteral("dialog");
    }
    EXPECT_TRUE(heading);
    EXPECT_TRUE(dialog);
}
