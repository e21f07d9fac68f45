#include "AccountFixture.h"

#include <QDateTime>

namespace {

const Json kModelBody = Json::parse(R"({"model":"gpt-6-luna","input":[{"role":"user","content":"hi"}],"n":1.5})");

} // namespace

using AiRequest = AccountFixture;

TEST_F(AiRequest, PostsTheWrappedBodyWithTheBearerAndReturnsTheBytesUnchanged)
{
    // Spacing, key order and a trailing newline must all survive: callers parse the bytes themselves.
    const QByteArray answer = "{ \"output\" : [ ], \"z\":1, \"a\":2 }\n";
    api.answer("ai/decisions", LoopbackAnswer::raw(answer, 200, "application/json"));

    const QByteArray got = runTask(account->aiRequest(QStringLiteral("decisions"), kModelBody, 18));

    EXPECT_EQ(got, answer);
    ASSERT_EQ(api.requests().size(), 1);
    const RecordedRequest sent = api.requests().front();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, QStringLiteral("ai/decisions"));
    EXPECT_EQ(sent.authorization(), "Bearer tvk_test-token");
    EXPECT_EQ(sent.header("content-type"), "application/json");
    EXPECT_EQ(sent.body, QByteArray(R"({"body":{"model":"gpt-6-luna","input":[{"role":"user","content":"hi"}],"n":1.5}})"));
}

TEST_F(AiRequest, ABodyThatIsNotJsonIsStillReturnedAsItCame)
{
    api.answer("ai/responses", LoopbackAnswer::raw("not json at all", 200));
    EXPECT_EQ(runTask(account->aiRequest(QStringLiteral("responses"), Json::object(), 8)), QByteArray("not json at all"));
}

TEST_F(AiRequest, TranscribeSendsBase64AudioFormatAndDiarize)
{
    const QByteArray audio("\x00\x01\xfe\xff m4a bytes", 15);
    const QByteArray got = runTask(account->transcribe(audio, QStringLiteral("m4a"), true));

    EXPECT_EQ(got, json::dumpBytes(LoopbackApi::transcriptionAnswer()));
    const auto sent = api.lastRequest(QStringLiteral("ai/transcriptions"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
    EXPECT_EQ(sent->body, "{\"audio\":\"" + audio.toBase64() + "\",\"format\":\"m4a\",\"diarize\":true}");
}

TEST_F(AiRequest, ServerFailuresCarryTheirCodeAndASentence)
{
    struct Case {
        LoopbackAnswer answer;
        QString code;
        int status;
        QString sentence; // empty: only checked to be non-empty
    };
    const Case cases[] = {
        {LoopbackAnswer::error("rate_limited", 429), "rate_limited", 429,
         "Too many requests in a short time. Wait a moment and try again."},
        {LoopbackAnswer::error("unauthorized", 401), "unauthorized", 401,
         "Your Tovrick sign-in is no longer valid. Sign in again."},
        {LoopbackAnswer::error("upstream_error", 502), "upstream_error", 502,
         "The model service isn't answering right now. Try again shortly."},
        {LoopbackAnswer::error("something_new", 400), "something_new", 400,
         "The Tovrick service reported an error (something_new)."},
        // Not JSON, or an "error" that is not a plain code: the status names it instead.
        {LoopbackAnswer::raw("<html>Bad Gateway</html>", 502, "text/html"), "http_502", 502,
         "The Tovrick service has a problem right now (http_502). Try again shortly."},
        {LoopbackAnswer::json(Json {{"error", "<b>injected\nline</b>"}}, 400), "http_400", 400, {}},
        {LoopbackAnswer::json(Json {{"error", 42}}, 403), "http_403", 403, {}},
        {LoopbackAnswer::raw("", 401), "http_401", 401, "Your Tovrick sign-in is no longer valid. Sign in again."},
        // Redirects are not followed: the bearer token goes nowhere else.
        {LoopbackAnswer::raw("", 302), "http_302", 302, {}},
    };
    for (const Case& c : cases) {
        api.answerOnce("ai/decisions", c.answer);
        const auto error = expectThrow<TovrickAPIError>(account->aiRequest(QStringLiteral("decisions"), Json::object(), 5));
        EXPECT_EQ(error.kind(), TovrickAPIError::Kind::server) << c.code.toStdString();
        EXPECT_EQ(error.code(), c.code);
        EXPECT_EQ(error.httpStatus(), c.status);
        if (c.sentence.isEmpty())
            EXPECT_FALSE(error.description().isEmpty());
        else
            EXPECT_EQ(error.description(), c.sentence);
    }
    EXPECT_TRUE(account->isSignedIn()) << "a failed model request never signs the user out";
}

TEST_F(AiRequest, ASlowAnswerTimesOutWithTheGivenTimeout)
{
    api.answer("ai/responses", LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(5s));
    const auto started = QDateTime::currentMSecsSinceEpoch();
    const auto error = expectThrow<NetworkError>(account->aiRequest(QStringLiteral("responses"), Json::object(), 0.3));
    EXPECT_EQ(error.kind(), NetworkError::Kind::timedOut);
    EXPECT_EQ(error.description(),
              QStringLiteral("The Tovrick service didn't answer in time. Check the connection and try again."));
    EXPECT_LT(QDateTime::currentMSecsSinceEpoch() - started, 4000);
}

TEST_F(AiRequest, TranscriptionUsesItsOwnTimeout)
{
    api.answer("ai/transcriptions", LoopbackAnswer::json(LoopbackApi::transcriptionAnswer()).after(5s));
    auto timing = fastTiming();
    timing.transcription = 300ms;
    account->setTimingForTests(timing);
    EXPECT_EQ(expectThrow<NetworkError>(account->transcribe("x", QStringLiteral("m4a"), false)).kind(),
              NetworkError::Kind::timedOut);
}

TEST_F(AiRequest, ADroppedConnectionIsUnreachable)
{
    api.answer("ai/decisions", LoopbackAnswer::dropped());
    const auto error = expectThrow<NetworkError>(account->aiRequest(QStringLiteral("decisions"), Json::object(), 5));
    EXPECT_EQ(error.kind(), NetworkError::Kind::unreachable);
}

TEST_F(AiRequest, AnUntrustedCertificateIsRefusedBeforeAnythingIsSent)
{
    TovrickAccount stranger(vault); // same session, but the test certificate is not trusted
    stranger.setAPIBaseURLForTests(api.url());
    const auto error = expectThrow<NetworkError>(stranger.aiRequest(QStringLiteral("decisions"), Json::object(), 5));
    EXPECT_EQ(error.kind(), NetworkError::Kind::insecure);
    EXPECT_TRUE(api.requests().isEmpty());
}

TEST_F(AiRequest, NoRequestLeavesWithoutAValidSession)
{
    struct Case {
        const char* what;
        std::optional<AccountSession> session;
    };
    AccountSession expired = *account->session();
    expired.expiresAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) - 1;
    AccountSession foreignToken = *account->session();
    foreignToken.deviceToken = QStringLiteral("abc_not-ours");
    const Case cases[] = {{"signed out", std::nullopt}, {"expired", expired}, {"token without tvk_", foreignToken}};
    for (const Case& c : cases) {
        if (c.session)
            account->adoptSession(*c.session);
        else
            account->clearSession();
        EXPECT_FALSE(account->isSignedIn()) << c.what;
        EXPECT_FALSE(account->userId().has_value()) << c.what;
        const auto error = expectThrow<TovrickAPIError>(account->aiRequest(QStringLiteral("decisions"), Json::object(), 5));
        EXPECT_EQ(error.kind(), TovrickAPIError::Kind::signedOut) << c.what;
        EXPECT_EQ(error.description(), QStringLiteral("You're not signed in to Tovrick. Sign in and try again."));
        EXPECT_EQ(expectThrow<TovrickAPIError>(account->transcribe("x", QStringLiteral("m4a"), true)).kind(),
                  TovrickAPIError::Kind::signedOut);
    }
    EXPECT_TRUE(api.requests().isEmpty());
}

TEST_F(AiRequest, WithoutAnAddressTheAccountIsNotConfigured)
{
    qunsetenv("TOVRICK_API_URL");
    TovrickAccount unconfigured(vault);
    ASSERT_TRUE(unconfigured.isSignedIn());
    const auto error = expectThrow<TovrickAPIError>(unconfigured.aiRequest(QStringLiteral("decisions"), Json::object(), 5));
    EXPECT_EQ(error.kind(), TovrickAPIError::Kind::notConfigured);
    EXPECT_EQ(error.description(),
              QStringLiteral("Tovrick isn't set up with the address of its service, so it can't reach your account."));
}

TEST_F(AiRequest, ANumberJsonCannotCarryIsAClearErrorNotACrash)
{
    const Json body = {{"x", std::numeric_limits<double>::infinity()}};
    const auto error = expectThrow<TovrickAPIError>(account->aiRequest(QStringLiteral("decisions"), body, 5));
    EXPECT_EQ(error.code(), QStringLiteral("invalid_request"));
    EXPECT_TRUE(api.requests().isEmpty());
}

namespace {

QStringList* capturedLines = nullptr;

void captureLine(QtMsgType, const QMessageLogContext&, const QString& line)
{
    if (capturedLines)
        capturedLines->append(line);
}

} // namespace

TEST_F(AiRequest, TokensNeverReachTheLog)
{
    QStringList lines;
    capturedLines = &lines;
    const QtMessageHandler previous = qInstallMessageHandler(captureLine);
    api.answerOnce("ai/decisions", LoopbackAnswer::error("unauthorized", 401));
    EXPECT_THROW(runTask(account->aiRequest(QStringLiteral("decisions"), Json::object(), 5)), TovrickAPIError);
    api.answerOnce("account", LoopbackAnswer::error("device_revoked", 401));
    account->startAccountLoop();
    waitUntil([&] { return !account->session().has_value(); });
    account->stopAccountLoop();
    qInstallMessageHandler(previous);
    capturedLines = nullptr;

    EXPECT_FALSE(lines.isEmpty());
    for (const QString& line : lines)
        EXPECT_FALSE(line.contains(QStringLiteral("tvk_"))) << line.toStdString();
}
