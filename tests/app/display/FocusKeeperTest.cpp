// Where the keyboard's focus goes in the focus window when the control that has it turns off, hides
// or goes, or a dialog or window it opened closes: each such control acted on by key and over the
// accessibility bus, its work let end, and the focus found on one shown, enabled control (the one
// the page names), with its ring after a key, from which Tab goes on.
#include <QAccessible>
#include <QCoro/QCoroFuture>
#include <QFuture>
#include <QPromise>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationLibrary.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"
#include "Tovrick/motivation/MotivationRecordingView.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "Tovrick/phone/PairingPanel.h"
#include "Tovrick/phone/PairingView.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"
#include "app/display/BusPress.h"
#include "app/display/QuietSound.h"
#include "app/display/WindowKeys.h"
#include "focus/FocusWindowWorld.h"
#include "motivation/Mp4Fixtures.h"
#include "shared/account/TovrickSignInView.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

#include <X11/keysym.h>

#include <algorithm>
#include <set>

namespace {

const QString kUser = QStringLiteral("user-1");

// A microphone whose recording the test completes, three seconds long.
struct SavingSound : ClipRecorder, MicrophoneAccess {
    struct Recording : ClipRecording {
        explicit Recording(SavingSound& owner) : sound(owner) { sound.current = this; }
        ~Recording() override { sound.current = nullptr; }
        double currentTime() const override { return 3.0; }
        void stop() override { sound.stopped = true; }
        SavingSound& sound;
    };
    QString path;
    Recording* current = nullptr;
    bool stopped = false;

    QCoro::Task<bool> request() override { co_return true; }
    std::unique_ptr<ClipRecording> record(const QString& file, double) override
    {
        path = file;
        stopped = false;
        fixtures::writeFile(file, QByteArray("partial"));
        return std::make_unique<Recording>(*this);
    }
    void finish()
    {
        fixtures::writeFile(path, fixtures::mp4Lasting(3.0));
        if (current && current->onFinished)
            current->onFinished(true);
    }
};

enum class Way { space, enter, bus };


// The focus window on the display, active, signed in unless told, its screen check held while
// `holdCheck` is set until released.
struct KeeperWindow : FocusWindowWorld {
    LoopbackApi api;
    SavingSound sound;
    MotivationAudioStore store { MotivationAudioStore::Ports {
        std::make_unique<AccountClipOwners>(account), std::make_unique<QuietSound::NoPlayer>(),
        std::make_unique<QuietSound::NoVoice>(), [](qsizetype) { return qsizetype(0); } } };
    MacFocusPanel panel { &account, &access };
    XTestInput keys;
    int pairs = 0;
    std::function<void()> pair;
    int opened = 0;
    QUrl page;
    bool holdCheck = false;
    // Holds the screen check until the test finishes it.
    QPromise<void> checkGate;

    explicit KeeperWindow(bool signedIn, int ownClips = 0)
    {
        signInForTests(account, api);
        account.clearSession();
        QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
        const LocalMotivationLibrary library(MotivationAudioStore::directoryFor(kUser));
        for (int n = 0; n < ownClips; ++n)
            library.add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Clip %1").arg(n), 1.0);
        if (signedIn)
            account.adoptSession(focusWindowSession(kUser));
        account.openURL = [this](const QUrl& url) {
            page = url;
            return ++opened > 0;
        };
        checkGate.start();
        access.testCapture = [this]() -> QCoro::Task<void> {
            if (holdCheck) {
                QFuture<void> released = checkGate.future();
                co_await released;
            }
            co_return;
        };
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.clipStore = &store;
        panel.show(*engine, [this] {
            ++pairs;
            if (pair)
                pair();
        });
        panel.sounds()->recordingPorts.recorder = &sound;
        panel.sounds()->recordingPorts.access = &sound;
        panel.window()->resize(640, 560);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.window()));
        panel.window()->requestActivate();
        EXPECT_TRUE(waitUntil([&] { return panel.window()->isActive(); }));
    }

    // The user's recordings are in the home folder: the next test starts without these.
    ~KeeperWindow() { QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively(); }

    void releaseCheck()
    {
        holdCheck = false;
        checkGate.finish();
    }
    MacFocusView& view() { return *panel.view(); }
    // Dialogs included: they lie beside the root item.
    QQuickItem* item(const QString& name) { return findItem(panel.window()->contentItem(), name); }
    QQuickItem* focused() { return panel.window()->activeFocusItem(); }
    QString focusedName() { return busNameOf(focused()); }

    bool press(unsigned long keysym, unsigned held = 0, std::function<bool()> done = {})
    {
        return pressInWindow(keys, *panel.window(), keysym, held, std::move(done));
    }
    bool tabTo(const QString& name)
    {
        for (int i = 0; i < 40 && focusedName() != name; ++i)
            if (!press(XK_Tab))
                return false;
        return focusedName() == name;
    }
    bool act(Way way, const QString& control, const std::function<bool()>& acted)
    {
        if (way == Way::bus)
            return pressOverBus(control) && waitUntil(acted);
        return press(way == Way::space ? XK_space : XK_Return, 0, acted);
    }
    void showPage(FocusPage shown) { view().selectPage(static_cast<int>(shown)); }
    // `count` reminder images in the signed-in user's folder, shown.
    void storeImages(int count)
    {
        QDir().mkpath(vision.folder());
        QImage image(40, 30, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        for (int i = 0; i < count; ++i)
            image.save(QDir(vision.folder()).filePath(QStringLiteral("stored-%1.jpg").arg(i)), "JPG");
        vision.reload();
    }
    QStringList ownIds() const
    {
        QStringList ids;
        for (const MotivationClip& clip : LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser)).load().clips)
            ids << clip.id;
        return ids;
    }
    // Records a clip in the sheet, opened from the record tile by Space, up to its Save button.
    bool recordUpToSave()
    {
        if (!tabTo(QStringLiteral("Eigenen Spruch aufnehmen")))
            return false;
        MotivationSoundsView& sounds = *panel.sounds();
        const auto phase = [&sounds](const char* name) {
            return sounds.sheet() && sounds.sheet()->phase() == QString::fromUtf8(name);
        };
        if (!press(XK_space, 0, [&] { return phase("recording") && focused() && focused()->objectName() == QStringLiteral("stopMotivationRecording"); }))
            return false;
        if (!press(XK_space, 0, [&] { return sound.stopped; }))
            return false;
        sound.finish();
        return waitUntil([&] { return phase("stopped") && focused() && focused()->objectName() == QStringLiteral("motivationSaveRecording"); });
    }
};

bool ringShown(QQuickItem* item)
{
    const QVariant visual = item->property("visualFocus");
    return !visual.isValid() || visual.toBool();
}

struct Case {
    const char* what;
    bool signedIn;
    int ownClips;
    // Ends with the keyboard's focus on the control acted on.
    std::function<bool(KeeperWindow&)> arrange;
    const char* control;
    Way way;
    // The press took: its work runs, or is done.
    std::function<bool(KeeperWindow&)> acted;
    // Lets the work end and waits for its end.
    std::function<bool(KeeperWindow&)> finish;
    // Where the page says the focus goes.
    std::function<QQuickItem*(KeeperWindow&)> lands;
};

// A control of that objectName.
std::function<QQuickItem*(KeeperWindow&)> named(const char* objectName)
{
    return [objectName](KeeperWindow& w) { return w.item(QString::fromUtf8(objectName)); };
}
// The tab of that page.
std::function<QQuickItem*(KeeperWindow&)> tab(const char* page)
{
    return [page](KeeperWindow& w) { return w.item(QStringLiteral("macFocus") + QString::fromUtf8(page)); };
}

bool startCheckHeld(KeeperWindow& w)
{
    w.view().setTask(QStringLiteral("Write"));
    w.holdCheck = true;
    return w.tabTo(QStringLiteral("Start focus"));
}
bool pausedWithCheckHeld(KeeperWindow& w)
{
    w.view().setTask(QStringLiteral("Write"));
    w.view().startFocus();
    if (!waitUntil([&] { return w.view().sessionRunning(); }))
        return false;
    w.view().pauseOrResume();
    if (!waitUntil([&] { return w.view().hasActiveSession() && !w.view().sessionRunning(); }))
        return false;
    w.holdCheck = true;
    return w.tabTo(QStringLiteral("Resume session"));
}
bool released(KeeperWindow& w, bool running)
{
    w.releaseCheck();
    return waitUntil([&] { return !w.view().checking() && w.view().sessionRunning() == running; });
}
bool onAccountPage(KeeperWindow& w, const char* control)
{
    w.showPage(FocusPage::account);
    return w.tabTo(QString::fromUtf8(control));
}
bool developerCardOpen(KeeperWindow& w)
{
    w.showPage(FocusPage::account);
    return pressOverBus(QStringLiteral("Developer options"))
        && waitUntil([&] { return isShown(w.item(QStringLiteral("macAccountDeveloperMode"))); });
}
bool signedOut(KeeperWindow& w)
{
    return waitUntil([&] { return !w.account.isSignedIn() && !w.account.busy(); });
}

// Acts on the case's control, lets its work end, and checks where the focus went.
void expectKept(const Case& c)
{
    KeeperWindow w(c.signedIn, c.ownClips);
    ASSERT_TRUE(c.arrange(w)) << "arranged: " << w.focusedName().toStdString();
    ASSERT_TRUE(w.act(c.way, QString::fromUtf8(c.control), [&] { return c.acted(w); }));
    ASSERT_TRUE(c.finish(w));
    QQuickItem* target = nullptr;
    ASSERT_TRUE(waitUntil([&] { target = c.lands(w); return target && w.focused() == target; }))
        << "the focus is on \"" << w.focusedName().toStdString() << "\" ("
        << (w.focused() ? w.focused()->objectName().toStdString() : "nothing") << ")";
    EXPECT_TRUE(isShown(target));
    EXPECT_TRUE(target->isEnabled());
    // Its ring, where a key acted or the keyboard was on what went.
    EXPECT_TRUE(ringShown(target));
    // The bus says exactly this one control has it, and nothing hidden does.
    const QString name = busNameOf(target);
    QStringList holders;
    EXPECT_TRUE(waitUntil([&] {
        holders.clear();
        for (const BusFocusHolder& holder : focusHoldersOverBus()) {
            if (!holder.showing || holder.focusable)
                holders << holder.node.name;
        }
        return holders == QStringList { name };
    })) << holders.join(u'|').toStdString();
    // Tab goes on from there.
    ASSERT_TRUE(w.press(XK_Tab));
    EXPECT_TRUE(isShown(w.focused()));
    EXPECT_FALSE(w.focusedName().isEmpty());
    EXPECT_NE(w.focused(), target);
}

} // namespace

TEST(FocusKeeper, WhatHadTheFocusTurnedOffHiddenOrGoneLeavesItOnOneShownControlThePageNames)
{
    const auto checking = [](KeeperWindow& w) { return w.view().checking(); };
    const auto signingOut = [](KeeperWindow& w) { return w.account.busy() || !w.account.isSignedIn(); };
    const auto signInStarted = [](KeeperWindow& w) { return w.opened == 1 && w.view().signInView()->busy(); };
    const auto signInDone = [](KeeperWindow& w) {
        const QString state = QUrlQuery(w.page).queryItemValue(QStringLiteral("state"));
        w.account.handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=c").arg(state)));
        return waitUntil([&] { return w.account.isSignedIn() && !w.view().signInView()->busy(); });
    };
    const auto developerOff = [](KeeperWindow& w) { return !w.engine->developerMode(); };
    const auto cardClosed = [](KeeperWindow& w) { return !isShown(w.item(QStringLiteral("macAccountDeveloperMode"))); };
    const auto chooserOpen = [](KeeperWindow& w) { return w.chooser->opens == 1; };
    const auto nothing = [](KeeperWindow&) { return true; };
    const auto sheetClosed = [](KeeperWindow& w) { return !w.panel.sounds()->recording(); };
    const auto saveRefused = [](KeeperWindow& w) {
        MotivationRecordingView* sheet = w.panel.sounds()->sheet();
        return sheet && !sheet->saving() && !sheet->error().isEmpty();
    };

    const Case cases[] = {
        // Off while its work runs: the focus waits, then goes where the page says.
        {"Start focus by Space", true, 0, startCheckHeld, "Start focus", Way::space, checking,
         [](KeeperWindow& w) { return released(w, true); }, named("macFocusPauseResume")},
        {"Start focus by Return", true, 0, startCheckHeld, "Start focus", Way::enter, checking,
         [](KeeperWindow& w) { return released(w, true); }, named("macFocusPauseResume")},
        {"Start focus over the bus", true, 0, startCheckHeld, "Start focus", Way::bus, checking,
         [](KeeperWindow& w) { return released(w, true); }, named("macFocusPauseResume")},
        {"Resume session by Space", true, 0, pausedWithCheckHeld, "Resume session", Way::space, checking,
         [](KeeperWindow& w) { return released(w, true); }, named("macFocusPauseResume")},
        {"Resume session over the bus", true, 0, pausedWithCheckHeld, "Resume session", Way::bus, checking,
         [](KeeperWindow& w) { return released(w, true); }, named("macFocusPauseResume")},
        {"End session by Space", true, 0,
         [](KeeperWindow& w) { w.view().setTask(QStringLiteral("Write")); w.view().startFocus();
                               return waitUntil([&] { return w.view().sessionRunning(); }) && w.tabTo(QStringLiteral("End session")); },
         "End session", Way::space, [](KeeperWindow& w) { return !w.view().hasActiveSession(); }, nothing, named("macFocusTask")},
        {"Sign in by Space, signed in", false, 0,
         [](KeeperWindow& w) { return w.tabTo(QStringLiteral("Continue with Google")); },
         "Continue with Google", Way::space, signInStarted, signInDone, tab("Focus")},
        {"Sign out by Space", true, 0, [](KeeperWindow& w) { return onAccountPage(w, "Sign out"); }, "Sign out", Way::space,
         signingOut, signedOut, named("macGoogleSignIn")},
        {"Sign out over the bus", true, 0, [](KeeperWindow& w) { return onAccountPage(w, "Sign out"); }, "Sign out", Way::bus,
         signingOut, signedOut, named("macGoogleSignIn")},
        {"Delete account by Space in the question", true, 0,
         [](KeeperWindow& w) {
             w.showPage(FocusPage::account);
             return pressOverBus(QStringLiteral("Account deletion"))
                 && waitUntil([&] { return isShown(w.item(QStringLiteral("macAccountDelete"))); })
                 && w.tabTo(QStringLiteral("Delete Tovrick account\u2026"))
                 && w.press(XK_space, 0, [&] { return w.view().confirmDelete() && w.focusedName() == QStringLiteral("Cancel"); })
                 && w.press(XK_Tab) && w.focusedName() == QStringLiteral("Delete account");
         },
         "Delete account", Way::space, signingOut, signedOut, named("macGoogleSignIn")},
        // Hidden around it over the bus.
        {"Developer options closed over the bus from Developer Mode", true, 0,
         [](KeeperWindow& w) { return developerCardOpen(w) && w.tabTo(QStringLiteral("Developer Mode")); },
         "Developer options", Way::bus, cardClosed, nothing, named("macAccountDeveloperToggle")},
        {"Developer Mode off over the bus from Test reminder", true, 0,
         [](KeeperWindow& w) {
             return developerCardOpen(w) && actOverBus(QStringLiteral("Developer Mode"), QStringLiteral("Toggle"))
                 && waitUntil([&] { return isShown(w.item(QStringLiteral("macAccountTestReminder"))); })
                 && w.tabTo(QStringLiteral("Test reminder"));
         },
         "Developer Mode", Way::bus, developerOff, nothing, named("macAccountDeveloperMode")},
        // Off for good at a limit.
        {"Add images by Space up to the 20th", true, 0,
         [](KeeperWindow& w) { w.storeImages(19); w.showPage(FocusPage::vision); return w.tabTo(QStringLiteral("Add images")); },
         "Add images", Way::space, chooserOpen,
         [](KeeperWindow& w) {
             QImage image(40, 30, QImage::Format_RGB32);
             image.fill(Qt::darkRed);
             const QString file = QDir(w.imagesRoot.path()).filePath(QStringLiteral("chosen.png"));
             image.save(file, "PNG");
             w.chooser->answer(QStringList { file });
             return waitUntil([&] { return w.vision.entries().size() == 20 && !w.vision.importing(); });
         },
         tab("Vision Images")},
        // A window of its own (the image chooser) takes the keyboard and gives it back.
        {"Add images by Space, the chooser cancelled", true, 0,
         [](KeeperWindow& w) { w.showPage(FocusPage::vision); return w.tabTo(QStringLiteral("Add images")); },
         "Add images", Way::space, chooserOpen,
         [](KeeperWindow& w) {
             QQuickView chooserWindow;
             chooserWindow.resize(200, 100);
             chooserWindow.show();
             chooserWindow.requestActivate();
             if (!waitUntil([&] { return chooserWindow.isActive() && !w.panel.window()->isActive(); }))
                 return false;
             w.chooser->answer(std::nullopt);
             chooserWindow.close();
             w.panel.window()->requestActivate();
             return waitUntil([&] { return w.panel.window()->isActive(); });
         },
         named("visionAddImages")},
        // The Sounds page: a save by keyboard, the 10th or one refused.
        {"Save the 10th recording by Space", true, 9,
         [](KeeperWindow& w) { w.showPage(FocusPage::sounds); return w.recordUpToSave(); },
         "Aufnahme speichern", Way::space, sheetClosed,
         [](KeeperWindow& w) { return waitUntil([&] { return w.ownIds().size() == 10 && w.panel.sounds()->limitReached(); }); },
         [](KeeperWindow& w) {
             const QStringList ids = w.ownIds();
             QQuickItem* tile = w.item(QStringLiteral("motivationTile-") + ids.value(ids.size() - 1));
             return tile ? findItem(tile, QStringLiteral("motivationPlay")) : nullptr;
         }},
        {"Save refused, by Space", true, 9,
         [](KeeperWindow& w) {
             w.showPage(FocusPage::sounds);
             if (!w.recordUpToSave())
                 return false;
             // Another recording took the last place meanwhile.
             LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser))
                 .add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Clip 9"), 1.0);
             return true;
         },
         "Aufnahme speichern", Way::space, saveRefused, nothing, named("motivationSaveRecording")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        expectKept(c);
    }
}

namespace {

struct PairingCase {
    const char* what;
    bool codeRefused; // else a code is shown and the phone adds this computer
    const char* first; // the window's control that takes the focus, if any
    const char* back; // the focus window's control it comes back to
    bool byEscape; // else closed as the window manager closes it (Alt+F4)
};

// Opens the add-this-computer window by Space from the sign-in page and closes it.
void expectPairingKeeps(const PairingCase& c)
{
    KeeperWindow w(false);
    w.api.handle(QStringLiteral("pairing/start"), [&](const RecordedRequest&) {
        if (c.codeRefused)
            return LoopbackAnswer::error(QStringLiteral("unavailable"), 503);
        return LoopbackAnswer::json({{"pairingId", "pairing-1"}, {"code", "CODE-1"}, {"pollToken", "poll-1"},
                                     {"expiresAt", static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 600000}});
    });
    w.api.handle(QStringLiteral("pairing/poll"), [](const RecordedRequest&) {
        return LoopbackAnswer::json({{"status", "pending"}});
    });
    PairingPanel pairing { &w.account, [] { return PairingRecord::withKey(QStringLiteral("Desk"), QByteArray(32, 'k')); } };
    w.pair = [&] { pairing.show(); };
    ASSERT_TRUE(w.tabTo(QStringLiteral("Pair with iPhone instead")));
    ASSERT_TRUE(w.press(XK_space, 0, [&] { return pairing.window() && pairing.window()->isActive(); }));
    QQuickView& window = *pairing.window();
    if (c.first) {
        // Its first control has the keyboard, with its ring.
        QQuickItem* first = nullptr;
        ASSERT_TRUE(waitUntil([&] {
            first = findItem(window.rootObject(), QString::fromUtf8(c.first));
            return first && window.activeFocusItem() == first;
        }));
        EXPECT_TRUE(ringShown(first));
    } else {
        ASSERT_TRUE(waitUntil([&] { return !pairing.view().code().isEmpty(); }));
        w.account.adoptSession(focusWindowSession(kUser));
        ASSERT_TRUE(waitUntil([&] { return pairing.view().signedIn(); }));
    }
    // Escape closes it; closed either way, the focus window has the keyboard back where it was, or on the
    // page that replaced the one it was on.
    if (c.byEscape) {
        ASSERT_TRUE(w.press(XK_Escape, 0, [&] { return !window.isVisible(); }));
    } else {
        window.close();
    }
    w.panel.window()->requestActivate();
    ASSERT_TRUE(waitUntil([&] { return w.panel.window()->isActive(); }));
    QQuickItem* back = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        back = w.item(QString::fromUtf8(c.back));
        return back && w.focused() == back;
    })) << "the focus is on \"" << w.focusedName().toStdString() << "\"";
    EXPECT_TRUE(isShown(back));
    EXPECT_TRUE(ringShown(back));
    ASSERT_TRUE(w.press(XK_Tab));
    EXPECT_TRUE(isShown(w.focused()));
    EXPECT_FALSE(w.focusedName().isEmpty());
}

} // namespace

TEST(FocusKeeper, TheAddThisComputerWindowTakesTheKeyboardClosesOnEscapeAndGivesItBack)
{
    const PairingCase cases[] = {
        {"no code to be had, Escape", true, "pairingRetry", "macPairInstead", true},
        {"no code to be had, closed by the window manager", true, "pairingRetry", "macPairInstead", false},
        {"the phone adds this computer, Escape", false, nullptr, "macFocusFocus", true},
        {"the phone adds this computer, closed by the window manager", false, nullptr, "macFocusFocus", false},
    };
    for (const PairingCase& c : cases) {
        SCOPED_TRACE(c.what);
        expectPairingKeeps(c);
    }
}
