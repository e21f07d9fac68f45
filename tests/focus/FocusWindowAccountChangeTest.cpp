// What the focus window leaves open when the signed-in user changes, the sign-in runs out or a page
// goes away: the real window over a real account, with the clip store and a scripted recorder.
#include <QDateTime>
#include <QFile>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "focus/FocusWindowWorld.h"
#include "support/AccountWaits.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

// A microphone that is always granted and recordings whose time the test sets; nothing plays.
struct ScriptedSound : ClipRecorder, MicrophoneAccess {
    struct Recording : ClipRecording {
        explicit Recording(ScriptedSound& owner) : sound(owner) { ++sound.running; }
        ~Recording() override { --sound.running; }
        double currentTime() const override { return sound.time; }
        void stop() override { }
        ScriptedSound& sound;
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
    std::unique_ptr<ClipRecording> record(const QString& file, double) override
    {
        path = file;
        QFile partial(file);
        if (partial.open(QIODevice::WriteOnly))
            partial.write("partial");
        return std::make_unique<Recording>(*this);
    }

    double time = 0;
    int running = 0;
    QString path;
};

void settle()
{
    settleFor(std::chrono::milliseconds(50));
}

// The window shown on the Sounds page, signed in as user-1 against the loopback API.
struct Window : FocusWindowWorld {
    LoopbackApi api;
    ScriptedSound sound;
    MotivationAudioStore store { MotivationAudioStore::Ports {
        std::make_unique<AccountClipOwners>(account), std::make_unique<ScriptedSound::NoPlayer>(),
        std::make_unique<ScriptedSound::NoVoice>(), [](qsizetype) { return qsizetype(0); } } };
    MacFocusPanel panel { &account, &access };

    Window()
    {
        signInForTests(account, api);
        account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.clipStore = &store;
        panel.show(*engine, [] {});
        panel.sounds()->recordingPorts.recorder = &sound;
        panel.sounds()->recordingPorts.access = &sound;
        settle();
    }
    MacFocusView& view() { return *panel.view(); }
    MotivationSoundsView& sounds() { return *panel.sounds(); }
    bool shown(const char* name)
    {
        QQuickItem* found = findItem(panel.window()->rootObject(), QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return isShown(found);
    }
    // The Sounds page with its recording sheet open and recording.
    void recordOnTheSoundsPage()
    {
        view().selectPage(static_cast<int>(FocusPage::sounds));
        settle();
        sounds().openRecording();
        ASSERT_TRUE(waitUntil([&] { return sounds().sheet() && sounds().sheet()->phase() == QStringLiteral("recording"); }));
        sound.time = 3.2;
        ASSERT_TRUE(QFile::exists(sound.path));
        ASSERT_TRUE(store.recordingActive());
    }
};

} // namespace

TEST(FocusWindowAccountChange, AnExpiringSignInTurnsTheWindowToTheSignInPage)
{
    Window w;
    AccountSession shortLived = focusWindowSession(QStringLiteral("user-1"));
    shortLived.expiresAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 400;
    w.account.adoptSession(shortLived);
    w.view().setTask(QStringLiteral("Write the report"));
    w.view().selectPage(static_cast<int>(FocusPage::account));
    w.view().setConfirmDelete(true);
    settle();
    ASSERT_TRUE(w.shown("macFocusDeleteConfirmation"));

    ASSERT_TRUE(waitForSignedOut(w.account)) << "the end of the sign-in was never published";
    settle();
    EXPECT_FALSE(w.view().signedIn());
    EXPECT_TRUE(w.shown("macFocusSignIn"));
    EXPECT_FALSE(w.shown("macFocusTabBar"));
    EXPECT_FALSE(w.view().canStart());
    EXPECT_FALSE(w.view().confirmDelete());
    EXPECT_FALSE(w.shown("macFocusDeleteConfirmation"));
    EXPECT_EQ(w.view().page(), FocusPage::focus);
}

TEST(FocusWindowAccountChange, AChangeOfUserClosesTheDeleteConfirmation)
{
    struct Case {
        const char* what;
        std::function<void(Window&)> change;
        bool staysOpen;
    };
    const Case cases[] = {
        {"another user adopted through pairing",
         [](Window& w) { w.account.adoptSession(focusWindowSession(QStringLiteral("user-2"))); }, false},
        {"signed out", [](Window& w) { w.account.clearSession(); }, false},
        {"the same user's session refreshed",
         [](Window& w) { w.account.adoptSession(focusWindowSession(QStringLiteral("user-1"))); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        w.view().selectPage(static_cast<int>(FocusPage::account));
        w.view().setConfirmDelete(true);
        c.change(w);
        settle();
        EXPECT_EQ(w.view().confirmDelete(), c.staysOpen);
        EXPECT_EQ(w.shown("macFocusDeleteConfirmation"), c.staysOpen);
        // Nothing is deleted behind the closed question.
        EXPECT_EQ(w.api.requestCount(QStringLiteral("account")), 0);
    }
}

TEST(FocusWindowAccountChange, EveryDisappearanceOfTheSoundsPageEndsItsRecording)
{
    struct Case {
        const char* what;
        std::function<void(Window&)> change;
    };
    const Case cases[] = {
        {"another page chosen", [](Window& w) { w.view().selectPage(static_cast<int>(FocusPage::history)); }},
        {"another user adopted", [](Window& w) { w.account.adoptSession(focusWindowSession(QStringLiteral("user-2"))); }},
        {"signed out", [](Window& w) { w.account.clearSession(); }},
        {"the window closed", [](Window& w) { w.panel.window()->close(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Window w;
        w.recordOnTheSoundsPage();
        if (HasFatalFailure())
            return;
        const QString file = w.sound.path;
        c.change(w);
        settle();
        EXPECT_FALSE(w.sounds().recording());
        EXPECT_EQ(w.sounds().sheet(), nullptr);
        EXPECT_EQ(w.sound.running, 0) << "the microphone is still recording";
        EXPECT_FALSE(w.store.recordingActive()) << "nudges stay silenced";
        EXPECT_FALSE(QFile::exists(file));

        // Back on the page, as whoever is signed in now: no sheet from before.
        if (!w.account.isSignedIn())
            w.account.adoptSession(focusWindowSession(QStringLiteral("user-3")));
        w.panel.show(*w.engine, [] {});
        w.view().selectPage(static_cast<int>(FocusPage::sounds));
        settle();
        EXPECT_FALSE(w.sounds().recording());
    }
}
