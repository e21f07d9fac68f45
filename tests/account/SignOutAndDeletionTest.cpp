#include "AccountFixture.h"

#include <QScopeGuard>

using Leaving = AccountFixture;

TEST_F(Leaving, SignOutForgetsTheSessionWhateverTheServiceAnswers)
{
    const AccountSession valid = *account->session();
    const QString untold = QStringLiteral("Signed out on this computer. The Tovrick service could not be told: ");
    struct Case {
        const char* what;
        std::optional<LoopbackAnswer> answer;
        QString message;
    };
    const Case cases[] = {
        {"accepted", std::nullopt, {}},
        {"device already gone", LoopbackAnswer::error("unauthorized", 401), {}},
        {"refused", LoopbackAnswer::raw("oops", 500),
         untold + "The Tovrick service has a problem right now (http_500). Try again shortly."},
        {"forbidden", LoopbackAnswer::error("forbidden", 403),
         untold + "Your Tovrick account isn't allowed to do that."},
        {"no answer in time", LoopbackAnswer::json(Json::object()).after(4s), untold},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        account->adoptSession(valid);
        if (c.answer)
            api.answerOnce("devices/current", *c.answer);
        runTask(account->signOut());
        const auto sent = api.lastRequest(QStringLiteral("devices/current"));
        ASSERT_TRUE(sent);
        EXPECT_EQ(sent->method, "DELETE");
        EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
        EXPECT_FALSE(account->isSignedIn());
        EXPECT_FALSE(vault.read(QStringLiteral("session")).found().has_value()) << "the token stays on this computer";
        EXPECT_TRUE(account->message().startsWith(c.message)) << account->message().toStdString();
        EXPECT_EQ(account->message().isEmpty(), c.message.isEmpty());
        EXPECT_FALSE(account->busy());
    }
}

TEST_F(Leaving, DeletionRunsThePreparationFirstAndStopsAtItsErrorOrARefusal)
{
    QStringList order;
    QString preparationError = QStringLiteral("The recordings could not be deleted.");
    account->prepareDeletion = [&](QString userId) -> QCoro::Task<> {
        order.append(QStringLiteral("prepare %1 after %2").arg(userId).arg(api.requestCount(QStringLiteral("account"))));
        if (!preparationError.isEmpty())
            throw UserFacingError(preparationError);
        co_return;
    };
    runTask(account->deleteAccount());
    EXPECT_EQ(account->message(), preparationError);
    EXPECT_EQ(api.requestCount(QStringLiteral("account")), 0);
    EXPECT_TRUE(account->isSignedIn());

    preparationError.clear();
    api.answerOnce("account", LoopbackAnswer::error("forbidden", 403));
    runTask(account->deleteAccount());
    EXPECT_EQ(account->message(), QStringLiteral("Your Tovrick account isn't allowed to do that."));
    EXPECT_TRUE(account->isSignedIn());

    order.clear();
    runTask(account->deleteAccount());
    EXPECT_EQ(order, QStringList {QStringLiteral("prepare user-1 after 1")});
    const auto sent = api.lastRequest(QStringLiteral("account"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->method, "DELETE");
    EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(vault.read(QStringLiteral("session")).found().has_value());
}

TEST_F(Leaving, ASecondOperationWhileOneRunsIsIgnored)
{
    api.answerOnce("devices/current", LoopbackAnswer::json(Json::object()).after(300ms));
    auto first = account->signOut();
    ASSERT_TRUE(account->busy());
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
    EXPECT_EQ(AccountSession::fromJson(json::parse(*vault.read(QStringLiteral("session")).found())), *account->session());
}

namespace {

QStringList* capturedLines = nullptr;

void captureLine(QtMsgType, const QMessageLogContext&, const QString& line)
{
    capturedLines->append(line);
}

} // namespace

TEST_F(AccountLoop, OnlyTheServiceRejectingTheDeviceSignsOutAndNoTokenIsLogged)
{
    QStringList lines;
    capturedLines = &lines;
    const auto restore =
        qScopeGuard([previous = qInstallMessageHandler(captureLine)] { qInstallMessageHandler(previous); });
    const auto refreshOnceWith = [&](const LoopbackAnswer& answer) {
        const int before = api.requestCount(QStringLiteral("account"));
        api.answerOnce("account", answer);
        account->startAccountLoop();
        EXPECT_TRUE(waitUntil([&] { return api.requestCount(QStringLiteral("account")) > before; }));
        waitUntil([] { return false; }, 200ms); // let the answer land
        account->stopAccountLoop();
    };
    // What the client may send again on its own (after a dropped GET) finds an answer that changes nothing.
    api.answer("GET", "account", LoopbackAnswer::json({{"userId", "user-1"}, {"displayName", "Test User"}}));
    for (const LoopbackAnswer& harmless : {LoopbackAnswer::raw("down", 503), LoopbackAnswer::raw("not json", 200),
                                           LoopbackAnswer::json({{"userId", "someone-else"}, {"displayName", "X"}}),
                                           LoopbackAnswer::dropped()})
        refreshOnceWith(harmless);
    ASSERT_TRUE(account->isSignedIn());
    EXPECT_EQ(account->session()->displayName, QStringLiteral("Test User"));

    refreshOnceWith(LoopbackAnswer::error("device_revoked", 401));
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(vault.read(QStringLiteral("session")).found().has_value());
    EXPECT_EQ(account->message(), QStringLiteral("Your Tovrick sign-in is no longer valid. Sign in again."));
    EXPECT_FALSE(lines.isEmpty());
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral("tvk_"))) << line.toStdString();
}
