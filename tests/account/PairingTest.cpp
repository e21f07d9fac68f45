#include "AccountFixture.h"

// Adding this computer, as the signed-out computer sees it.
class Pairing : public AccountFixture {
protected:
    void SetUp() override
    {
        AccountFixture::SetUp();
        account->clearSession();
    }
};

TEST_F(Pairing, StartAsksWithoutATokenAndTheScannedCodeCarriesOnlyIdAndCode)
{
    const PairingTicket ticket = runTask(account->startPairing());
    EXPECT_EQ(ticket.pairingId, QStringLiteral("pairing-1"));
    EXPECT_EQ(ticket.pollToken, QStringLiteral("loopback-poll-token"));
    const auto start = api.lastRequest(QStringLiteral("pairing/start"));
    ASSERT_TRUE(start);
    EXPECT_EQ(start->method, "POST");
    EXPECT_TRUE(start->authorization().isEmpty());
    EXPECT_EQ(start->json().at("installationId"), account->installationId().toStdString());
    EXPECT_EQ(start->json().at("platform"), "linux");

    const QString scanned = ticket.accountCodeText();
    ASSERT_TRUE(scanned.startsWith(QStringLiteral("tovrick-account:")));
    const QByteArray decoded = QByteArray::fromBase64(scanned.mid(16).toLatin1());
    // The poll token never leaves this computer.
    EXPECT_EQ(decoded, QByteArray(R"({"pairingId":"pairing-1","code":"loopback-code"})"));
}

TEST_F(Pairing, PollSendsIdAndTokenAndReadsEachStatus)
{
    const PairingTicket ticket = runTask(account->startPairing());
    api.answerOnce(QStringLiteral("pairing/poll"), LoopbackAnswer::json({{"status", "pending"}}));
    api.answerOnce(QStringLiteral("pairing/poll"), LoopbackAnswer::json({{"status", "expired"}}));
    EXPECT_EQ(runTask(account->pollPairing(ticket)).status, PairingPoll::Status::pending);
    EXPECT_EQ(runTask(account->pollPairing(ticket)).status, PairingPoll::Status::expired);
    const PairingPoll approved = runTask(account->pollPairing(ticket));
    EXPECT_EQ(approved.status, PairingPoll::Status::approved);
    ASSERT_TRUE(approved.session);
    EXPECT_EQ(approved.session->userId, QStringLiteral("user-1"));

    const auto poll = api.lastRequest(QStringLiteral("pairing/poll"));
    ASSERT_TRUE(poll);
    EXPECT_TRUE(poll->authorization().isEmpty());
    EXPECT_EQ(poll->json(), Json({{"pairingId", "pairing-1"}, {"pollToken", "loopback-poll-token"}}));
    // Asking adopts nothing: the window decides.
    EXPECT_FALSE(account->isSignedIn());
    EXPECT_FALSE(account->busy());
}

TEST_F(Pairing, AnswersThatCannotBeUsedFailWithTheAccountsSentence)
{
    const QString unreadable = QStringLiteral("The Tovrick service sent an answer that couldn't be read.");
    const QString invalidSession = QStringLiteral("The Tovrick service sent a sign-in that isn't valid. Please try again.");
    Json expiredSession = LoopbackApi::sessionJson();
    expiredSession["expiresAt"] = 1000;
    Json foreignToken = LoopbackApi::sessionJson();
    foreignToken["deviceToken"] = "abc";
    const struct {
        const char* what;
        const char* path;
        LoopbackAnswer answer;
        QString sentence;
    } cases[] = {
        {"a start without a code", "pairing/start",
         LoopbackAnswer::json({{"pairingId", "p"}, {"pollToken", "t"}, {"expiresAt", 1e13}}), unreadable},
        {"a start with an empty poll token", "pairing/start",
         LoopbackAnswer::json({{"pairingId", "p"}, {"code", "c"}, {"pollToken", ""}, {"expiresAt", 1e13}}), unreadable},
        {"a start that is not JSON", "pairing/start", LoopbackAnswer::raw("<html>"), unreadable},
        {"a start refused", "pairing/start", LoopbackAnswer::error(QStringLiteral("rate_limited"), 429),
         QStringLiteral("Too many requests in a short time. Wait a moment and try again.")},
        {"an unknown status", "pairing/poll", LoopbackAnswer::json({{"status", "maybe"}}), unreadable},
        {"approved without a session", "pairing/poll", LoopbackAnswer::json({{"status", "approved"}}), unreadable},
        {"approved with an expired session", "pairing/poll",
         LoopbackAnswer::json({{"status", "approved"}, {"session", expiredSession}}), invalidSession},
        {"approved with a token of another kind", "pairing/poll",
         LoopbackAnswer::json({{"status", "approved"}, {"session", foreignToken}}), invalidSession},
        {"a poll the server fails", "pairing/poll", LoopbackAnswer::error(QStringLiteral("boom"), 503),
         QStringLiteral("The Tovrick service has a problem right now (boom). Try again shortly.")},
    };
    PairingTicket ticket;
    ticket.pairingId = QStringLiteral("pairing-1");
    ticket.code = QStringLiteral("code");
    ticket.pollToken = QStringLiteral("token");
    ticket.expiresAt = 1e13;
    for (const auto& c : cases) {
        api.answerOnce(QString::fromLatin1(c.path), c.answer);
        try {
            if (QString::fromLatin1(c.path) == QStringLiteral("pairing/start"))
                runTask(account->startPairing());
            else
                runTask(account->pollPairing(ticket));
            ADD_FAILURE() << c.what << ": no failure";
        } catch (const UserFacingError& error) {
            EXPECT_EQ(error.description(), c.sentence) << c.what;
        }
    }
    EXPECT_FALSE(account->isSignedIn());
}
