#include "AccountFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrlQuery>

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

TEST_F(SignIn, RunsStartBrowserFinishAndTheSessionSurvivesARestart)
{
    browserAnswer = [](const QUrl& page) {
        return QUrl(QStringLiteral("tovrick://auth/google?state=%1&code=the-code").arg(stateOf(page)));
    };
    runTask(account->signInWithGoogle());

    ASSERT_EQ(opened.size(), 1);
    ASSERT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->userId(), QStringLiteral("user-1"));
    const auto start = api.lastRequest(QStringLiteral("auth/google/start"));
    const auto finish = api.lastRequest(QStringLiteral("auth/google/finish"));
    ASSERT_TRUE(start && finish);
    EXPECT_TRUE(start->authorization().isEmpty());
    EXPECT_EQ(start->json().at("callbackURL"), "tovrick://auth/google");
    EXPECT_EQ(finish->json().at("state"), stateOf(opened[0]).toStdString());
    EXPECT_EQ(finish->json().at("code"), "the-code");
    EXPECT_EQ(finish->json().at("installationId"), start->json().at("installationId"));

    // A new account object over the same vault starts signed in as the same user.
    const AccountSession adopted = *account->session();
    account.reset();
    TovrickAccount restarted(vault);
    EXPECT_EQ(restarted.session(), adopted);
    EXPECT_TRUE(restarted.isSignedIn());
}

TEST_F(SignIn, FailuresAndCancellationsLeaveAMessageAndNoSession)
{
    const QString cancelled = QStringLiteral("The sign-in was cancelled or took too long. Please try again.");
    const QString unreadable = QStringLiteral("The Tovrick service sent an answer that couldn't be read.");
    auto timing = fastTiming();
    timing.signInWait = 400ms;
    account->setTimingForTests(timing);
    Json foreignToken = LoopbackApi::sessionJson();
    foreignToken["deviceToken"] = "abc";
    struct Case {
        const char* what;
        const char* callback; // STATE stands for the sign-in's own; nullptr: the browser never answers
        std::optional<LoopbackAnswer> start, finish;
        QString message;
    };
    const Case cases[] = {
        {"the user closed the page", nullptr, {}, {}, cancelled},
        {"the provider refused", "state=STATE&error=access_denied", {}, {}, cancelled},
        {"a callback with another state", "state=forged&code=c", {}, {}, cancelled},
        {"start without a page", nullptr, LoopbackAnswer::json({{"state", "s"}}), {}, unreadable},
        {"a token that is not ours", "state=STATE&code=c", {}, LoopbackAnswer::json(foreignToken),
         QStringLiteral("The Tovrick service sent a sign-in that isn't valid. Please try again.")},
        {"finish not JSON", "state=STATE&code=c", {}, LoopbackAnswer::raw("<html>", 200), unreadable},
        // Once a stack overflow when the answer was copied.
        {"finish nested 200,000 deep", "state=STATE&code=c", {},
         LoopbackAnswer::raw("{\"token\":" + QByteArray(200'000, '[') + QByteArray(200'000, ']') + "}", 200),
         unreadable},
    };
    for (const Case& c : cases) {
        browserAnswer = nullptr;
        if (c.callback)
            browserAnswer = [&c](const QUrl& page) {
                const QString query = QString::fromUtf8(c.callback).replace(QStringLiteral("STATE"), stateOf(page));
                return QUrl(QStringLiteral("tovrick://auth/google?") + query);
            };
        if (c.start)
            api.answerOnce("auth/google/start", *c.start);
        if (c.finish)
            api.answerOnce("auth/google/finish", *c.finish);
        runTask(account->signInWithGoogle());
        EXPECT_EQ(account->message(), c.message) << c.what;
        EXPECT_FALSE(account->session().has_value()) << c.what;
        EXPECT_FALSE(account->busy()) << c.what;
    }
    // A callback that arrives after the sign-in gave up finishes nothing.
    EXPECT_FALSE(account->handleCallbackURL(QUrl(QStringLiteral("tovrick://auth/google?state=loopback-state-1&code=c"))));
}

TEST_F(SignIn, DestroyingTheAccountEndsWhatIsStillUnderWay)
{
    // One coroutine waits for the browser, one for the API; left waiting, their frames would leak.
    auto signIn = account->signInWithGoogle();
    ASSERT_TRUE(waitUntil([&] { return !opened.isEmpty(); }));
    signInForTests(*account, api);
    api.answer("ai/responses", LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(5s));
    auto request = account->aiRequest(QStringLiteral("responses"), Json::object(), 30);
    account.reset();
    runTask(std::move(signIn));
    EXPECT_THROW(runTask(std::move(request)), NetworkError);
}

// The program closes its account as it ends: nothing may still run on the network's own thread
// while the process unwinds its libraries.
TEST_F(SignIn, ClosingEndsTheRequestsAndTheNetworksThreadForGood)
{
    const auto networkThreads = [] {
        int count = 0;
        for (const QFileInfo& task : QDir(QStringLiteral("/proc/self/task")).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile name(task.filePath() + QStringLiteral("/comm"));
            count += name.open(QIODevice::ReadOnly) && name.readAll().startsWith("QNetworkAccess");
        }
        return count;
    };
    signInForTests(*account, api);
    api.answer("ai/responses", LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(5s));
    auto request = account->aiRequest(QStringLiteral("responses"), Json::object(), 30);
    ASSERT_TRUE(waitUntil([&] { return api.requestCount(QStringLiteral("ai/responses")) == 1; }));
    const int before = networkThreads();
    ASSERT_GE(before, 1);

    EXPECT_TRUE(account->close());
    EXPECT_THROW(runTask(std::move(request)), NetworkError);
    // The thread is told to end at once; the kernel lists it until it has.
    EXPECT_TRUE(waitUntil([&] { return networkThreads() == before - 1; }));
    auto later = account->aiRequest(QStringLiteral("responses"), Json::object(), 30);
    EXPECT_THROW(runTask(std::move(later)), NetworkError);
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/responses")), 1);
    EXPECT_EQ(networkThreads(), before - 1);
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
    int goneCalls = 0;
    {
        QObject shortLived;
        account->subscribeSession(&shortLived, [&](const std::optional<AccountSession>&) { ++goneCalls; });
    }
    const AccountSession next = AccountSession::fromJson(LoopbackApi::sessionJson(QStringLiteral("user-2")));
    account->adoptSession(next);
    account->clearSession();
    // The current value arrives at once.
    EXPECT_EQ(heard, (QList<std::optional<QString>> {std::nullopt, QStringLiteral("user-2"), std::nullopt}));
    EXPECT_EQ(propertyAlreadyHeld, (QList<bool> {true, false, false}));
    EXPECT_EQ(goneCalls, 1) << "a subscriber whose context is gone is not called";
}

