// A sign-in that runs out by time is published when it does, as a sign-out is.
#include <QDateTime>
#include "AccountFixture.h"
#include "support/AccountWaits.h"

namespace {

double nowMs()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch());
}

using Expiry = AccountFixture;

} // namespace

TEST_F(Expiry, TheAccountLoopsShorterTermIsPublishedAtItsEndAsASignOut)
{
    QList<std::optional<QString>> heard;
    QObject context;
    account->subscribeSession(&context, [&](const std::optional<AccountSession>& session) {
        heard.append(session ? std::optional(session->userId) : std::nullopt);
    });
    // The service shortens the session: the wait for its end follows the new term.
    Json answer = LoopbackApi::sessionJson(QStringLiteral("user-1"));
    answer["expiresAt"] = json::number(nowMs() + 300);
    api.answer("account", LoopbackAnswer::json(answer));
    account->startAccountLoop();

    ASSERT_TRUE(waitForSignedOut(*account)) << "the end of the session was never published";
    EXPECT_EQ(api.requestCount(QStringLiteral("account")), 1);
    EXPECT_FALSE(account->session().has_value());
    EXPECT_FALSE(account->userId().has_value());
    ASSERT_GE(heard.size(), 3);
    EXPECT_EQ(heard.first(), QStringLiteral("user-1"));
    EXPECT_EQ(heard.last(), std::nullopt) << "subscribers hear the end as they hear a sign-out";
    EXPECT_FALSE(vault.read(QStringLiteral("session")).found().has_value());
    account->stopAccountLoop();
}

TEST_F(Expiry, ARestoredSessionAndEveryNewOneAreWatched)
{
    struct Case {
        const char* what;
        std::function<void()> arrange;
    };
    const Case cases[] = {
        {"restored at start", [&] {
             AccountSession shortLived = *account->session();
             shortLived.expiresAt = nowMs() + 300;
             account->adoptSession(shortLived);
             account = std::make_unique<TovrickAccount>(vault);
         }},
        // Replacing a session that would have run out later still ends at the new one's term.
        {"another user adopted", [&] {
             AccountSession other = AccountSession::fromJson(LoopbackApi::sessionJson(QStringLiteral("user-2")));
             other.expiresAt = nowMs() + 300;
             account->adoptSession(other);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        signInForTests(*account, api);
        c.arrange();
        ASSERT_TRUE(account->isSignedIn());
        EXPECT_TRUE(waitForSignedOut(*account));
        EXPECT_FALSE(account->session().has_value());
    }
}
