#include <QAccessible>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QUrlQuery>
#include <gtest/gtest.h>

#include "Tovrick/focus/AccountPageView.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "focus/FocusWindowWorld.h"
#include "shared/account/TovrickSignInView.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"
#include "support/QuickItems.h"

namespace {

AccountSession sessionBy(const QString& method, std::optional<QString> email = std::nullopt)
{
    AccountSession session = focusWindowSession(QStringLiteral("user-1"));
    session.authMethod = method;
    session.email = std::move(email);
    return session;
}

// The window shown offscreen, signed in with `session` unless none is given.
struct AccountWindow : FocusWindowWorld {
    MacFocusPanel panel {&account, &access};
    int pairs = 0;

    explicit AccountWindow(std::optional<AccountSession> session)
    {
        if (session)
            account.adoptSession(*session);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.show(*engine, [this] { ++pairs; });
        view().selectPage(static_cast<int>(FocusPage::account));
    }
    MacFocusView& view() { return *panel.view(); }
    AccountPageView& page() { return *view().accountPage(); }
    QQuickItem* item(const char* name)
    {
        QQuickItem* found = findItem(panel.window()->rootObject(), QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    bool shown(const char* name) { return isShown(item(name)); }
    QString text(const char* name) { return item(name)->property("text").toString(); }
    // The texts of the banners shown on the page, top to bottom.
    QStringList banners()
    {
        QList<QQuickItem*> found;
        collect(panel.window()->rootObject(), found);
        std::sort(found.begin(), found.end(), [](QQuickItem* a, QQuickItem* b) {
            return a->mapToScene(QPointF()).y() < b->mapToScene(QPointF()).y();
        });
        QStringList texts;
        for (QQuickItem* banner : found)
            texts.append(banner->property("message").toString());
        return texts;
    }
    // The names a screen reader can reach in the window: the accessibility tree's nodes not marked
    // invisible.
    QStringList accessibleNames()
    {
        QStringList names;
        collectNames(QAccessible::queryAccessibleInterface(panel.window()), names);
        return names;
    }
    static void collectNames(QAccessibleInterface* node, QStringList& names)
    {
        if (!node || node->state().invisible)
            return;
        names.append(node->text(QAccessible::Name));
        for (int i = 0; i < node->childCount(); ++i)
            collectNames(node->child(i), names);
    }
    void collect(QQuickItem* item, QList<QQuickItem*>& found)
    {
        if (item->objectName() == QStringLiteral("macFocusFeedback") && isShown(item))
            found.append(item);
        for (QQuickItem* child : item->childItems())
            collect(child, found);
    }
};

} // namespace

TEST(AccountPageView, NamesTheMethodAndOffersDeletionOnlyForAppleAndGoogle)
{
    const struct {
        const char* method;
        bool signedIn;
        const char* shown;
        bool deletion;
    } cases[] = {{"apple", true, "Apple", true},          {"google", true, "Google", true},
                 {"iphone", true, "your iPhone", false},  {"", true, "your iPhone", false},
                 {"Apple", true, "your iPhone", false},   {"apple", false, "Apple", false}};
    for (const auto& c : cases) {
        const QString method = QString::fromLatin1(c.method);
        EXPECT_EQ(AccountPageView::methodName(method), QString::fromLatin1(c.shown)) << c.method;
        EXPECT_EQ(AccountPageView::offersDeletion(sessionBy(method), c.signedIn), c.deletion) << c.method;
    }
    EXPECT_FALSE(AccountPageView::offersDeletion(std::nullopt, true));
}

TEST(AccountPage, CardShowsNameMethodAndEmailOnlyWhenThere)
{
    const struct {
        const char* method;
        std::optional<QString> email;
        const char* with;
        bool emailShown, deletion;
    } cases[] = {{"apple", QStringLiteral("robin@example.com"), "Signed in with Apple", true, true},
                 {"google", QString(), "Signed in with Google", false, true},
                 {"phone", std::nullopt, "Signed in with your iPhone", false, false}};
    for (const auto& c : cases) {
        AccountWindow w(sessionBy(QString::fromLatin1(c.method), c.email));
        EXPECT_TRUE(w.panel.window()->errors().isEmpty());
        EXPECT_TRUE(w.shown("macAccountCard")) << c.method;
        EXPECT_FALSE(w.shown("macAccountSignInCard")) << c.method;
        EXPECT_EQ(w.text("macAccountName"), QStringLiteral("Robin"));
        EXPECT_EQ(w.text("macAccountMethod"), QString::fromLatin1(c.with));
        EXPECT_EQ(w.shown("macAccountEmail"), c.emailShown) << c.method;
        EXPECT_EQ(w.shown("macAccountDeletion"), c.deletion) << c.method;
        EXPECT_TRUE(w.item("macAccountSignOut")->isEnabled());
    }
}

TEST(AccountPage, DeveloperSwitchAsksTheEngineAndFollowsIt)
{
    AccountWindow w(sessionBy(QStringLiteral("apple")));
    QQuickItem* toggle = w.item("macAccountDeveloperMode");
    EXPECT_FALSE(toggle->property("checked").toBool());
    EXPECT_FALSE(w.shown("macAccountTestReminder"));
    EXPECT_TRUE(w.text("macAccountCheckInterval").contains(QStringLiteral(" every 30 seconds ")));
    EXPECT_EQ(w.text("macAccountDeveloperNote"), AccountPageView::developerNote);

    // As a click does: the switch flips, then says so.
    QMetaObject::invokeMethod(toggle, "toggle");
    QMetaObject::invokeMethod(toggle, "toggled");
    EXPECT_TRUE(w.engine->developerMode());
    EXPECT_EQ(w.view().message(), QStringLiteral("Developer Mode on: clock 4\u00d7, checks every 10 seconds."));
    EXPECT_TRUE(w.text("macAccountCheckInterval").contains(QStringLiteral(" every 10 seconds ")));

    // The disclosure group opens to show it, and the test reminder answers in the first banner.
    w.item("macAccountDeveloper")->setProperty("expanded", true);
    EXPECT_TRUE(w.shown("macAccountTestReminder"));
    QMetaObject::invokeMethod(w.item("macAccountTestReminder"), "clicked");
    EXPECT_EQ(w.view().message(), QStringLiteral("Test nudge sent to the computer and phone."));

    // Whoever changes the engine next (the phone, say), the switch shows its value.
    w.engine->setDeveloperMode(false);
    EXPECT_FALSE(toggle->property("checked").toBool());
    EXPECT_FALSE(w.shown("macAccountTestReminder"));
}

TEST(AccountPage, BannersShowTheWindowsMessageAboveTheAccounts)
{
    AccountWindow w(sessionBy(QStringLiteral("google")));
    EXPECT_TRUE(w.banners().isEmpty());
    w.view().setMessage(QStringLiteral("Developer Mode off: normal clock, checks every 30 seconds."));
    // The account's own message: a deletion that its preparation refuses.
    w.account.prepareDeletion = [](QString) -> QCoro::Task<> {
        throw UserFacingError(QStringLiteral("The recordings could not be removed."));
        co_return;
    };
    w.account.setAPIBaseURLForTests(QUrl(QStringLiteral("https://127.0.0.1:9/api/")));
    runTask(w.account.deleteAccount());
    EXPECT_TRUE(w.account.isSignedIn());
    EXPECT_EQ(w.page().banners(),
              QStringList({QStringLiteral("Developer Mode off: normal clock, checks every 30 seconds."),
                           QStringLiteral("The recordings could not be removed.")}));
    EXPECT_EQ(w.banners(), w.page().banners());
}

TEST(AccountPage, PairingAndDeletionGoThroughTheWindow)
{
    AccountWindow w(sessionBy(QStringLiteral("phone")));
    QMetaObject::invokeMethod(w.item("macAccountPair"), "clicked");
    EXPECT_EQ(w.pairs, 1);
    // Not offered for an account made on the phone, so not asked for either.
    w.page().requestDeletion();
    EXPECT_FALSE(w.view().confirmDelete());

    w.account.adoptSession(sessionBy(QStringLiteral("apple")));
    QMetaObject::invokeMethod(w.item("macAccountDelete"), "clicked");
    EXPECT_TRUE(w.view().confirmDelete());
    EXPECT_TRUE(w.shown("macFocusDeleteConfirmation"));
}

TEST(SignInPage, ShowsTheSignInViewAndItsBanners)
{
    AccountWindow w(std::nullopt);
    EXPECT_TRUE(w.panel.window()->errors().isEmpty());
    EXPECT_TRUE(w.shown("macFocusSignIn"));
    EXPECT_FALSE(w.shown("macFocusTabBar"));
    EXPECT_EQ(w.text("macSignInTitle"), QStringLiteral("tovrick"));
    EXPECT_EQ(w.text("macSignInTagline"), QStringLiteral("A little help staying focused."));
    EXPECT_EQ(w.item("macSignInLogo")->width(), 152);
    EXPECT_EQ(w.text("macGoogleSignIn"), QStringLiteral("Continue with Google"));
    EXPECT_EQ(w.text("macAppleSignIn"), QStringLiteral("Continue with Apple"));
    EXPECT_FALSE(w.shown("macSignInProgress"));

    // No address: both sign-ins off, pairing on, and the one banner that says why.
    qunsetenv("TOVRICK_API_URL");
    w.account.setAPIBaseURLForTests(QUrl());
    emit w.account.messageChanged();
    EXPECT_FALSE(w.item("macGoogleSignIn")->isEnabled());
    EXPECT_FALSE(w.item("macAppleSignIn")->isEnabled());
    EXPECT_TRUE(w.item("macPairInstead")->isEnabled());
    EXPECT_EQ(w.banners(), QStringList({TovrickSignInView::notConfiguredText}));
    EXPECT_TRUE(w.accessibleNames().contains(TovrickSignInView::notConfiguredText));
    QMetaObject::invokeMethod(w.item("macPairInstead"), "clicked");
    EXPECT_EQ(w.pairs, 1);

    w.account.setAPIBaseURLForTests(QUrl(QStringLiteral("https://127.0.0.1:9/api/")));
    emit w.account.messageChanged();
    EXPECT_TRUE(w.item("macGoogleSignIn")->isEnabled());
    EXPECT_TRUE(w.banners().isEmpty());
}

TEST(SignInPage, NothingCanStartAnotherAccountOperationWhileOneRuns)
{
    AccountWindow w(std::nullopt);
    LoopbackApi api;
    signInForTests(w.account, api);
    w.account.clearSession();
    int opened = 0;
    QUrl page;
    w.account.openURL = [&](const QUrl& url) {
        page = url;
        ++opened;
        return true;
    };
    const QString progress = QStringLiteral("Signing in\u2026");
    EXPECT_FALSE(w.accessibleNames().contains(progress));
    QMetaObject::invokeMethod(w.item("macGoogleSignIn"), "clicked");
    ASSERT_TRUE(waitUntil([&] { return opened == 1; }));
    EXPECT_TRUE(w.shown("macSignInProgress"));
    EXPECT_EQ(w.text("macSignInProgressText"), progress);
    // Read out as the banners are.
    EXPECT_TRUE(w.accessibleNames().contains(progress)) << w.accessibleNames().join(QLatin1Char('|')).toStdString();
    for (const char* name : {"macGoogleSignIn", "macAppleSignIn", "macPairInstead"})
        EXPECT_FALSE(w.item(name)->isEnabled()) << name;
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/google/start")), 1);

    // The browser comes back through the link handler: signed in, the window leaves the page.
    const QString state = QUrlQuery(page).queryItemValue(QStringLiteral("state"));
    w.account.handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=c").arg(state)));
    ASSERT_TRUE(waitUntil([&] { return w.account.isSignedIn(); }));
    EXPECT_FALSE(w.shown("macFocusSignIn"));
    EXPECT_TRUE(w.shown("macFocusTabBar"));
    EXPECT_EQ(w.view().page(), FocusPage::focus);
}
