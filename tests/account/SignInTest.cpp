#include "AccountFixture.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QUrlQuery>

#include "shared/account/SignInCallbackRelay.h"

namespace {

QString stateOf(const QUrl& page)
{
    return QUrlQuery(page).queryItemValue(QStringLiteral("state"));
}

} // namespace

class SignIn : public AccountFixture {
protected:
    void SetUp() override
    {
        AccountFixture::SetUp();
        account->clearSession();
        api.clearRequests();
        // The "browser": records the page and, when told to, answers through the callback scheme.
        account->openURL = [this](const QUrl& page) {
            opened.append(page);
            if (browserAnswer)
                QTimer::singleShot(10, account.get(), [this, page] { account->handleCallbackURL(browserAnswer(page)); });
            return true;
        };
    }

    QList<QUrl> opened;
    std::function<QUrl(const QUrl&)> browserAnswer;
};

TEST_F(SignIn, GoogleRunsStartBrowserFinishAndTheSessionSurvivesARestart)
{
    QList<bool> busyWhileBrowsing;
    browserAnswer = [&](const QUrl& page) {
        busyWhileBrowsing.append(account->busy());
        return QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=the-code").arg(stateOf(page)));
    };
    runTask(account->signInWithGoogle());

    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0].scheme(), QStringLiteral("https"));
    EXPECT_EQ(busyWhileBrowsing, QList<bool> {true});
    EXPECT_FALSE(account->busy());
    EXPECT_EQ(account->message(), QString());
    ASSERT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->userId(), QStringLiteral("user-1"));
    EXPECT_EQ(account->session()->authMethod, QStringLiteral("google"));

    const auto start = api.lastRequest(QStringLiteral("auth/google/start"));
    const auto finish = api.lastRequest(QStringLiteral("auth/google/finish"));
    ASSERT_TRUE(start && finish);
    EXPECT_TRUE(start->authorization().isEmpty());
    EXPECT_EQ(start->json().at("callbackURL"), "tovrick://auth/google");
    EXPECT_EQ(start->json().at("platform"), "linux");
    EXPECT_EQ(finish->json().at("state"), stateOf(opened[0]).toStdString());
    EXPECT_EQ(finish->json().at("code"), "the-code");
    EXPECT_EQ(finish->json().at("installationId"), start->json().at("installationId"));

    // A new account object over the same vault starts signed in as the same user.
    const AccountSession adopted = *account->session();
    account.reset();
    TovrickAccount restarted(vault);
    ASSERT_TRUE(restarted.session().has_value());
    EXPECT_EQ(*restarted.session(), adopted);
    EXPECT_TRUE(restarted.isSignedIn());
}

TEST_F(SignIn, AppleWebUsesItsOwnPaths)
{
    browserAnswer = [](const QUrl& page) {
        return QUrl(QStringLiteral("tovrick://auth/apple/web?state=%1&code=c").arg(stateOf(page)));
    };
    runTask(account->signInWithAppleWeb());
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/apple/web/start")), 1);
    EXPECT_EQ(api.requestCount(QStringLiteral("auth/apple/web/finish")), 1);
    ASSERT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->session()->authMethod, QStringLiteral("apple"));
}

TEST_F(SignIn, FailuresAndCancellationsLeaveAMessageAndNoSession)
{
    const QString cancelled = QStringLiteral("The sign-in was cancelled or took too long. Please try again.");
    auto timing = fastTiming();
    timing.signInWait = 400ms;
    account->setTimingForTests(timing);
    const auto answerWith = [](const QString& query) {
        return [query](const QUrl& page) {
            return QUrl(QStringLiteral("tovrick://auth/google?state=%1&%2").arg(stateOf(page), query));
        };
    };
    struct Case {
        const char* what;
        std::function<void()> script;
        QString message;
    };
    const std::vector<Case> cases = {
        {"the user closed the page", [&] { browserAnswer = nullptr; }, cancelled},
        {"the provider refused", [&] { browserAnswer = answerWith(QStringLiteral("error=access_denied")); }, cancelled},
        {"a callback with another state",
         [&] { browserAnswer = [](const QUrl&) { return QUrl(QStringLiteral("tovrick://auth/google?state=forged&code=c")); }; },
         cancelled},
        {"start refused",
         [&] { api.answerOnce("auth/google/start", LoopbackAnswer::error("rate_limited", 429)); },
         QStringLiteral("Too many requests in a short time. Wait a moment and try again.")},
        {"start answered without a page",
         [&] { api.answerOnce("auth/google/start", LoopbackAnswer::json({{"state", "s"}})); },
         QStringLiteral("The Tovrick service sent an answer that couldn't be read.")},
        {"finish answered with a token that is not ours",
         [&] {
             browserAnswer = answerWith(QStringLiteral("code=c"));
             Json session = LoopbackApi::sessionJson();
             session["deviceToken"] = "abc";
             api.answerOnce("auth/google/finish", LoopbackAnswer::json(session));
         },
         QStringLiteral("The Tovrick service sent a sign-in that isn't valid. Please try again.")},
        {"finish answered with an expired session",
         [&] {
             browserAnswer = answerWith(QStringLiteral("code=c"));
             Json session = LoopbackApi::sessionJson();
             session["expiresAt"] = 1000;
             api.answerOnce("auth/google/finish", LoopbackAnswer::json(session));
         },
         QStringLiteral("The Tovrick service sent a sign-in that isn't valid. Please try again.")},
        {"finish answered with something that is not JSON",
         [&] {
             browserAnswer = answerWith(QStringLiteral("code=c"));
             api.answerOnce("auth/google/finish", LoopbackAnswer::raw("<html>", 200));
         },
         QStringLiteral("The Tovrick service sent an answer that couldn't be read.")},
    };
    for (const Case& c : cases) {
        browserAnswer = nullptr;
        c.script();
        runTask(account->signInWithGoogle());
        EXPECT_EQ(account->message(), c.message) << c.what;
        EXPECT_FALSE(account->session().has_value()) << c.what;
        EXPECT_FALSE(account->busy()) << c.what;
    }
    // A callback that arrives after the sign-in gave up finishes nothing.
    EXPECT_FALSE(account->handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=loopback-state-1&code=c"))));
}

TEST_F(SignIn, SubscribersHearEachSessionBeforeThePropertyHoldsIt)
{
    QList<std::optional<QString>> heard;
    QList<bool> propertyAlreadyHeld;
    QObject context;
    account->subscribeSession(&context, [&](const std::optional<AccountSession>& session) {
        heard.append(session ? std::optional(session->userId) : std::nullopt);
        propertyAlreadyHeld.append(account->session() == session);
    });
    ASSERT_EQ(heard.size(), 1) << "the current value arrives at once";
    EXPECT_FALSE(heard[0].has_value());

    AccountSession next = AccountSession::fromJson(LoopbackApi::sessionJson(QStringLiteral("user-2")));
    account->adoptSession(next);
    account->clearSession();
    EXPECT_EQ(heard, (QList<std::optional<QString>> {std::nullopt, QStringLiteral("user-2"), std::nullopt}));
    EXPECT_EQ(propertyAlreadyHeld, (QList<bool> {true, false, false}));

    {
        QObject shortLived;
        int calls = 0;
        account->subscribeSession(&shortLived, [&](const std::optional<AccountSession>&) { ++calls; });
        EXPECT_EQ(calls, 1);
    }
    account->adoptSession(next); // the gone subscriber is not called
    EXPECT_EQ(heard.size(), 4);
}

// Run by the test below as a second process: hands a callback URL to the first one and exits.
TEST(SignInRelayChild, HandsOverTheCallback)
{
    const QString url = qEnvironmentVariable("TOVRICK_RELAY_CHILD_URL");
    if (url.isEmpty())
        GTEST_SKIP() << "only run as the second process of SignIn.TheCallbackComesFromASecondProcess";
    const QUrl callback = SignInCallbackRelay::callbackArgument({QStringLiteral("tovrick"), url});
    ASSERT_FALSE(callback.isEmpty());
    EXPECT_TRUE(SignInCallbackRelay::handOver(callback, qEnvironmentVariable("TOVRICK_RELAY_CHILD_SOCKET")));
}

TEST_F(SignIn, TheCallbackComesFromASecondProcess)
{
    QTemporaryDir folder;
    const QString socketPath = folder.filePath(QStringLiteral("signin.socket"));
    SignInCallbackRelay relay;
    ASSERT_TRUE(relay.listen([this](const QUrl& url) { account->handleCallbackURL(url); }, socketPath));

    // Only one instance receives callbacks; a second listener on the same path is refused.
    SignInCallbackRelay second;
    EXPECT_FALSE(second.listen([](const QUrl&) {}, socketPath));

    QProcess child;
    int childExit = -1;
    account->openURL = [&](const QUrl& page) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TOVRICK_RELAY_CHILD_URL"),
                   QStringLiteral("tovrick://auth/google?state=%1&code=from-child").arg(stateOf(page)));
        env.insert(QStringLiteral("TOVRICK_RELAY_CHILD_SOCKET"), socketPath);
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        QObject::connect(&child, &QProcess::finished, [&](int code) { childExit = code; });
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=SignInRelayChild.HandsOverTheCallback")});
        return true;
    };
    auto timing = fastTiming();
    timing.signInWait = 30s; // a sanitized child process starts slowly
    account->setTimingForTests(timing);

    runTask(account->signInWithGoogle(), 60s);

    EXPECT_EQ(account->message(), QString());
    EXPECT_TRUE(account->isSignedIn());
    EXPECT_EQ(api.lastRequest(QStringLiteral("auth/google/finish"))->json().at("code"), "from-child");
    ASSERT_TRUE(waitUntil([&] { return childExit != -1; }, 30s));
    EXPECT_EQ(childExit, 0);
}

TEST(SignInRelay, NothingListeningMeansNoHandOver)
{
    QTemporaryDir folder;
    EXPECT_FALSE(SignInCallbackRelay::handOver(QUrl(QStringLiteral("tovrick://auth/google?state=s")),
                                               folder.filePath(QStringLiteral("none.socket")), 500));
    EXPECT_FALSE(SignInCallbackRelay::handOver(QUrl(QStringLiteral("https://example.com/")),
                                               folder.filePath(QStringLiteral("none.socket")), 500));
    EXPECT_TRUE(SignInCallbackRelay::callbackArgument({QStringLiteral("tovrick"), QStringLiteral("--pair")}).isEmpty());
}
