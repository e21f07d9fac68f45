// The program's windows used as a screen reader or a switch device uses them: each control found by
// its accessible name on the accessibility bus and pressed through its Press action, which must do
// what a click does.
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
#include "app/display/BusPress.h"
#include "focus/FocusWindowWorld.h"
#include "shared/account/TovrickSignInView.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

namespace {

// A granted microphone whose recordings stay empty, so a stop ends them at once as too short;
// nothing plays.
struct QuietSound : ClipRecorder, MicrophoneAccess {
    struct Recording : ClipRecording {
        double currentTime() const override { return 0; }
        void stop() override { }
    };
    struct NoPlayer : ClipPlayer {
        std::unique_ptr<ClipPlayback> open(const QString&) override
        {
            throw MotivationFileError(QStringLiteral("no playback here"));
        }
    };
    struct NoVoice : SpeechVoice {
        void speak(const QString&, const QString&, double) override { }
        void stopSpeaking() override { }
        bool isSpeaking() const override { return false; }
    };
    QCoro::Task<bool> request() override { co_return true; }
    std::unique_ptr<ClipRecording> record(const QString&, double) override { return std::make_unique<Recording>(); }
};

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
        {"+", true, [](Window& w) { return w.view().minutes() == 26; }},
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
