#include "AccountFixture.h"

#include "shared/account/TovrickSignInView.h"

namespace {

const QString kNotConfigured = QStringLiteral("The account service isn\u2019t configured for this build yet.");

} // namespace

class SignInView : public AccountFixture {
protected:
    void SetUp() override
    {
        AccountFixture::SetUp();
        auto timing = fastTiming();
        timing.signInWait = 500ms;
        account->setTimingForTests(timing);
        qunsetenv("TOVRICK_API_URL");
        account->clearSession();
        account->openURL = [this](const QUrl& page) {
            opened.append(page);
            return true;
        };
        view.pair = [this] { ++pairs; };
    }
    // A sign-in left waiting for the browser gives up by itself; the account outlives it.
    void TearDown() override
    {
        account->setAPIBaseURLForTests(api.url());
        waitUntil([this] { return !account->busy(); }, 5s);
    }
    void unconfigure() { account->setAPIBaseURLForTests(QUrl()); }
    // Starts a web sign-in that waits for the browser, so the account stays busy.
    void beginSignIn()
    {
        view.signInWithGoogle();
        ASSERT_TRUE(waitUntil([this] { return !opened.isEmpty(); }));
        ASSERT_TRUE(account->busy());
    }

    QList<QUrl> opened;
    int pairs = 0;
    TovrickSignInView view {account.get()};
};

TEST_F(SignInView, EachButtonStartsItsOwnProvider)
{
    view.signInWithApple();
    ASSERT_TRUE(waitUntil([this] { return opened.size() == 1; }));
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/apple/web/start")), 1);
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/google/start")), 0);
    // Let that one give up before the next.
    ASSERT_TRUE(waitUntil([this] { return !account->busy(); }, 5s));

    view.signInWithGoogle();
    ASSERT_TRUE(waitUntil([this] { return opened.size() == 2; }));
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/google/start")), 1);
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/apple/web/start")), 1);
}

TEST_F(SignInView, BannersComeInOrderAccountMessageFirst)
{
    EXPECT_TRUE(view.banners().isEmpty());
    const QString refused = QStringLiteral("The sign-in couldn't be completed. Please try again.");
    api.answerOnce(QStringLiteral("auth/google/start"), LoopbackAnswer::error(QStringLiteral("auth_failed"), 400));
    view.signInWithGoogle();
    ASSERT_TRUE(waitUntil([this] { return !account->message().isEmpty() && !account->busy(); }));
    EXPECT_EQ(view.banners(), QStringList({refused}));

    unconfigure();
    EXPECT_EQ(view.banners(), QStringList({refused, kNotConfigured}));

    // A sign-in that is tried anyway clears the account's message and leaves the one about the address.
    account->setAPIBaseURLForTests(api.url());
    view.signInWithGoogle();
    ASSERT_TRUE(waitUntil([this] { return !opened.isEmpty(); }));
    unconfigure();
    EXPECT_EQ(view.banners(), QStringList({kNotConfigured}));
}

TEST_F(SignInView, ButtonsFollowBusyAndTheAddress)
{
    const struct {
        bool busy, configured;
        bool signIn, pair;
    } cases[] = {{false, true, true, true}, {false, false, false, true}, {true, true, false, false},
                 {true, false, false, false}};
    for (const auto& c : cases) {
        account->setAPIBaseURLForTests(api.url());
        if (c.busy)
            beginSignIn();
        if (!c.configured)
            unconfigure();
        EXPECT_EQ(view.signInEnabled(), c.signIn) << c.busy << c.configured;
        EXPECT_EQ(view.pairEnabled(), c.pair) << c.busy << c.configured;
        EXPECT_EQ(view.busy(), c.busy);

        // A disabled action does nothing when asked anyway.
        const int pairsBefore = pairs;
        view.requestPair();
        EXPECT_EQ(pairs > pairsBefore, c.pair);
        const int startsBefore = api.requestCount(QStringLiteral("auth/apple/web/start"));
        view.signInWithApple();
        const bool started = waitUntil(
            [&] { return api.requestCount(QStringLiteral("auth/apple/web/start")) > startsBefore; }, 300ms);
        EXPECT_EQ(started, c.signIn);

        // Whatever sign-in is waiting for the browser gives up.
        account->setAPIBaseURLForTests(api.url());
        waitUntil([this] { return !account->busy(); }, 5s);
        opened.clear();
    }
}
