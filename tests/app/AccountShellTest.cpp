#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QQuickView>

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

    LoopbackApi api;
    FocusWorld world;
    std::unique_ptr<AppDelegate> app;
};

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
