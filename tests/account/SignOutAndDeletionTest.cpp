#include "AccountFixture.h"

using Leaving = AccountFixture;

TEST_F(Leaving, SignOutTellsTheServiceThenForgetsTheSession)
{
    runTask(account->signOut());
    const auto sent = api.lastRequest(QStringLiteral("devices/current"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->method, "DELETE");
    EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(vault.read(QStringLiteral("session")).has_value());
    EXPECT_EQ(account->message(), QString());
    EXPECT_FALSE(account->busy());
}

TEST_F(Leaving, ASignOutTheServiceRefusesKeepsTheSessionUnlessTheDeviceIsAlreadyGone)
{
    api.answerOnce("devices/current", LoopbackAnswer::raw("oops", 500));
    runTask(account->signOut());
    EXPECT_TRUE(account->isSignedIn());
    EXPECT_TRUE(vault.read(QStringLiteral("session")).has_value());
    EXPECT_EQ(account->message(),
              QStringLiteral("The Tovrick service has a problem right now (http_500). Try again shortly."));

    api.answerOnce("devices/current", LoopbackAnswer::json(Json::object()).after(5s));
    auto timing = fastTiming();
    timing.request = 300ms;
    account->setTimingForTests(timing);
    runTask(account->signOut());
    EXPECT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->message(),
              QStringLiteral("The Tovrick service didn't answer in time. Check the connection and try again."));

    api.answerOnce("devices/current", LoopbackAnswer::error("unauthorized", 401));
    runTask(account->signOut());
    EXPECT_FALSE(account->session().has_value());
    EXPECT_EQ(account->message(), QString());
}

TEST_F(Leaving, DeletionRunsThePreparationFirstThenDeletesTheAccount)
{
    QStringList order;
    QString preparedFor;
    account->prepareDeletion = [&](QString userId) -> QCoro::Task<> {
        preparedFor = userId;
        order.append(QStringLiteral("prepare:%1").arg(api.requestCount(QStringLiteral("account"))));
        co_return;
    };
    runTask(account->deleteAccount());

    EXPECT_EQ(preparedFor, QStringLiteral("user-1"));
    EXPECT_EQ(order, QStringList {QStringLiteral("prepare:0")});
    const auto sent = api.lastRequest(QStringLiteral("account"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->method, "DELETE");
    EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(vault.read(QStringLiteral("session")).has_value());
    EXPECT_FALSE(account->busy());
}

TEST_F(Leaving, APreparationErrorOrARefusalStopsTheDeletion)
{
    account->prepareDeletion = [](QString) -> QCoro::Task<> {
        throw UserFacingError(QStringLiteral("The recordings could not be deleted."));
        co_return;
    };
    runTask(account->deleteAccount());
    EXPECT_EQ(account->message(), QStringLiteral("The recordings could not be deleted."));
    EXPECT_EQ(api.requestCount(QStringLiteral("account")), 0);
    EXPECT_TRUE(account->isSignedIn());

    account->prepareDeletion = nullptr;
    api.answerOnce("account", LoopbackAnswer::error("forbidden", 403));
    runTask(account->deleteAccount());
    EXPECT_EQ(account->message(), QStringLiteral("Your Tovrick account isn't allowed to do that."));
    EXPECT_TRUE(account->isSignedIn());

    account->clearSession();
    runTask(account->deleteAccount());
    EXPECT_EQ(account->message(), QStringLiteral("You're not signed in to Tovrick. Sign in and try again."));
    EXPECT_EQ(api.requestCount(QStringLiteral("account")), 1);
}

TEST_F(Leaving, ASecondOperationWhileOneRunsIsIgnored)
{
    api.answerOnce("devices/current", LoopbackAnswer::json(Json::object()).after(300ms));
    auto first = account->signOut();
    EXPECT_TRUE(account->busy());
    runTask(account->deleteAccount());
    runTask(std::move(first));
    EXPECT_EQ(api.requestCount(QStringLiteral("account")), 0);
    EXPECT_FALSE(account->session().has_value());
}

using AccountLoop = AccountFixture;

TEST_F(AccountLoop, RefreshAdoptsTheAccountFieldsButKeepsTheDevice)
{
    api.answer("GET", "account",
               LoopbackAnswer::json({{"userId", "user-1"}, {"displayName", "Renamed"}, {"email", nullptr},
                                     {"authMethod", "apple"}, {"deviceToken", "tvk_other"}}));
    auto timing = fastTiming();
    timing.loopInterval = 100ms;
    account->setTimingForTests(timing);
    account->startAccountLoop();
    ASSERT_TRUE(waitUntil([&] { return api.requestCount(QStringLiteral("account")) >= 3; }));
    account->stopAccountLoop();

    EXPECT_EQ(api.lastRequest(QStringLiteral("account"))->authorization(), "Bearer tvk_test-token");
    ASSERT_TRUE(account->session());
    EXPECT_EQ(account->session()->displayName, QStringLiteral("Renamed"));
    EXPECT_FALSE(account->session()->email.has_value());
    EXPECT_EQ(account->session()->authMethod, QStringLiteral("apple"));
    EXPECT_EQ(account->session()->deviceToken, QStringLiteral("tvk_test-token"));
    const auto stored = AccountSession::fromJson(json::parse(*vault.read(QStringLiteral("session"))));
    EXPECT_EQ(stored, *account->session());
}

TEST_F(AccountLoop, OnlyTheServiceRejectingTheDeviceSignsOut)
{
    const auto refreshOnceWith = [&](const LoopbackAnswer& answer) {
        const int before = api.requestCount(QStringLiteral("account"));
        api.answerOnce("account", answer);
        account->startAccountLoop();
        EXPECT_TRUE(waitUntil([&] { return api.requestCount(QStringLiteral("account")) > before; }));
        waitUntil([] { return false; }, 200ms); // let the answer land
        account->stopAccountLoop();
    };
    // What the client may retry on its own (a dropped GET) finds an answer that changes nothing.
    api.answer("GET", "account", LoopbackAnswer::json({{"userId", "user-1"}, {"displayName", "Test User"}}));
    refreshOnceWith(LoopbackAnswer::raw("down", 503));
    refreshOnceWith(LoopbackAnswer::raw("not json", 200));
    refreshOnceWith(LoopbackAnswer::json({{"userId", "someone-else"}, {"displayName", "X"}}));
    refreshOnceWith(LoopbackAnswer::dropped());
    ASSERT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->session()->displayName, QStringLiteral("Test User"));

    refreshOnceWith(LoopbackAnswer::error("device_revoked", 401));
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(vault.read(QStringLiteral("session")).has_value());
    EXPECT_EQ(account->message(), QStringLiteral("Your Tovrick sign-in is no longer valid. Sign in again."));
}
