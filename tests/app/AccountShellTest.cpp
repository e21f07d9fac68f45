#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QQuickView>
#include <QScopeGuard>
#include <QUrlQuery>

#include "ProgramFolders.h"
#include "Tovrick/AppDelegate.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/phone/PairingPanel.h"
#include "Tovrick/phone/PairingView.h"
#include "focus/FocusFakes.h"
#include "shared/account/TovrickAccount.h"
#include "support/RunTask.h"

namespace {

// The shell over a scripted focus world, the shared account signed in against a loopback API.
class AccountShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        useOneMemoryVault();
        signInForTests(api);
        app = std::make_unique<AppDelegate>(world.environment(), 0);
        app->launched();
    }
    void TearDown() override
    {
        app.reset();
        TovrickAccount::shared().clearSession();
    }

    // The focus window is shown, on its Focus page, and the window the user is given.
    bool focusWindowUp(QWindow* active)
    {
        QQuickView* window = app->focusPanel().window();
        return window && window->isVisible() && app->focusPanel().view()->page() == FocusPage::focus
               && QGuiApplication::focusWindow() == active;
    }

    LoopbackApi api;
    FocusWorld world;
    std::unique_ptr<AppDelegate> app;
};

AccountSession sessionOf(const QString& user, double expiresAt)
{
    AccountSession session = *TovrickAccount::shared().session();
    session.userId = user;
    session.expiresAt = expiresAt;
    return session;
}

} // namespace

TEST_F(AccountShell, DeletingTheAccountRemovesItsOwnRecordingsOnly)
{
    const QString own = MotivationAudioStore::directoryFor(QStringLiteral("user-1"));
    const QString other = MotivationAudioStore::directoryFor(QStringLiteral("user-2"));
    for (const QString& folder : {own, other}) {
        ASSERT_TRUE(QDir().mkpath(folder));
        QFile clip(QDir(folder).filePath(QStringLiteral("clip.m4a")));
        ASSERT_TRUE(clip.open(QIODevice::WriteOnly));
        clip.write("audio");
    }
    runTask(TovrickAccount::shared().deleteAccount());
    EXPECT_TRUE(TovrickAccount::shared().message().isEmpty()) << qPrintable(TovrickAccount::shared().message());
    EXPECT_FALSE(TovrickAccount::shared().isSignedIn());
    EXPECT_FALSE(QFileInfo::exists(own));
    EXPECT_TRUE(QFileInfo::exists(other));
    // The account loop's refresh at launch reads the same path; only one deletion goes out.
    int deletions = 0;
    for (const RecordedRequest& request : api.requests())
        deletions += request.path == QStringLiteral("account") && request.method == "DELETE";
    EXPECT_EQ(deletions, 1);
}

TEST_F(AccountShell, TheFocusWindowsPairActionOpensTheAddThisComputerWindow)
{
    app->showFocusWindow();
    EXPECT_EQ(app->pairingPanel().window(), nullptr);
    app->focusPanel().view()->requestPair();
    ASSERT_NE(app->pairingPanel().window(), nullptr);
    EXPECT_TRUE(app->pairingPanel().window()->isVisible());
    EXPECT_TRUE(app->pairingPanel().view().signedIn());
    EXPECT_FALSE(app->pairingPanel().view().linkCode().isEmpty());

    // Signed out, opening it asks the service for a code.
    app->pairingPanel().window()->close();
    TovrickAccount::shared().clearSession();
    app->showPairingPanel();
    ASSERT_TRUE(waitUntil([&] { return !app->pairingPanel().view().code().isEmpty(); }));
    EXPECT_EQ(api.requestCount(QStringLiteral("pairing/start")), 1);
}

// The browser's answer comes while the focus window is closed: once signed in, it is back, raised,
// on its Focus page, whatever page was open before the sign-out.
TEST_F(AccountShell, ASignInByTheBrowsersLinkBringsTheClosedWindowBack)
{
    TovrickAccount& account = TovrickAccount::shared();
    app->showFocusWindow();
    app->focusPanel().view()->selectPage(static_cast<int>(FocusPage::history));
    account.clearSession();
    const auto restore = qScopeGuard([&account, original = account.openURL] { account.openURL = original; });
    QUrl page;
    account.openURL = [&](const QUrl& url) {
        page = url;
        return true;
    };
    auto signingIn = account.signInWithGoogle();
    ASSERT_TRUE(waitUntil([&] { return !page.isEmpty(); }));
    app->focusPanel().window()->close();
    ASSERT_FALSE(app->focusPanel().window()->isVisible());

    const QString state = QUrlQuery(page).queryItemValue(QStringLiteral("state"));
    ASSERT_TRUE(account.handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=c").arg(state))));
    runTask(std::move(signingIn));
    ASSERT_TRUE(account.isSignedIn()) << qPrintable(account.message());
    EXPECT_TRUE(waitUntil([&] { return focusWindowUp(app->focusPanel().window()); }));
}

// Signed in from the phone through the add-this-computer window, with no focus window made yet: the
// focus window comes up below it, so that its phone-link code stays in view.
TEST_F(AccountShell, ASignInFromThePhoneShowsTheWindowBelowTheAddThisComputerWindow)
{
    TovrickAccount& account = TovrickAccount::shared();
    EXPECT_EQ(app->focusPanel().window(), nullptr) << "signed in at launch: no window";
    const AccountSession approved = *account.session();
    account.clearSession();
    EXPECT_EQ(app->focusPanel().window(), nullptr) << "a sign-out opens nothing by itself";
    app->showPairingPanel();
    QQuickView* pairing = app->pairingPanel().window();
    // The code's request answered: none is left on its way when the test ends.
    ASSERT_TRUE(waitUntil([&] { return !app->pairingPanel().view().code().isEmpty(); }));
    ASSERT_TRUE(waitUntil([&] { return QGuiApplication::focusWindow() == pairing; }));

    account.adoptSession(approved); // as the phone's approval does
    EXPECT_TRUE(waitUntil([&] { return focusWindowUp(pairing); }));
    EXPECT_TRUE(pairing->isVisible());
    EXPECT_FALSE(app->pairingPanel().view().linkCode().isEmpty());
}

// A refreshed session or a sign-out is no sign-in; the same user signing in again after the session
// ran out is one.
TEST_F(AccountShell, OnlyAFinishedSignInShowsTheWindow)
{
    TovrickAccount& account = TovrickAccount::shared();
    account.stopAccountLoop(); // its refreshes would keep the session alive
    const double later = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 48.0 * 3600 * 1000;
    account.adoptSession(sessionOf(QStringLiteral("user-1"), later));
    account.clearSession();
    QCoreApplication::processEvents();
    EXPECT_EQ(app->focusPanel().window(), nullptr);

    // Signed in again, the window closed, then a refresh to a session that soon runs out.
    account.adoptSession(sessionOf(QStringLiteral("user-1"), later));
    ASSERT_TRUE(waitUntil([&] { return app->focusPanel().window() != nullptr; }));
    app->focusPanel().window()->close();
    const double soon = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 300;
    account.adoptSession(sessionOf(QStringLiteral("user-1"), soon));
    QCoreApplication::processEvents();
    EXPECT_FALSE(app->focusPanel().window()->isVisible()) << "a refresh of a held session";
    ASSERT_TRUE(waitUntil([&] { return !account.isSignedIn(); }));

    account.adoptSession(sessionOf(QStringLiteral("user-1"), later));
    EXPECT_TRUE(waitUntil([&] { return focusWindowUp(app->focusPanel().window()); }));
}
