#include "AccountFixture.h"

#include <QDateTime>

#include <limits>

using AiRequest = AccountFixture;

TEST_F(AiRequest, PostsTheWrappedBodyWithTheBearerAndReturnsTheBytesUnchanged)
{
    // Spacing, key order and a trailing newline must all survive: callers parse the bytes themselves.
    const QByteArray answer = "{ \"output\" : [ ], \"z\":1, \"a\":2 }\n";
    api.answer("ai/decisions", LoopbackAnswer::raw(answer, 200, "application/json"));
    const Json body = Json::parse(R"({"model":"gpt-6-luna","input":[{"role":"user","content":"hi"}],"n":1.5})");

    EXPECT_EQ(runTask(account->aiRequest(QStringLiteral("decisions"), body, 18)), answer);
    ASSERT_EQ(api.requests().size(), 1);
    const RecordedRequest sent = api.requests().front();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, QStringLiteral("ai/decisions"));
    EXPECT_EQ(sent.authorization(), "Bearer tvk_test-token");
    EXPECT_EQ(sent.header("content-type"), "application/json");
    EXPECT_EQ(sent.body, QByteArray(R"({"body":{"model":"gpt-6-luna","input":[{"role":"user","content":"hi"}],"n":1.5}})"));
}

TEST_F(AiRequest, TranscribeSendsBase64AudioAndKeepsItsOwnTimeout)
{
    const QByteArray audio("\x00\x01\xfe\xff m4a bytes", 15);
    EXPECT_EQ(runTask(account->transcribe(audio, QStringLiteral("m4a"), true)),
              json::dumpBytes(LoopbackApi::transcriptionAnswer()));
    const auto sent = api.lastRequest(QStringLiteral("ai/transcriptions"));
    ASSERT_TRUE(sent);
    EXPECT_EQ(sent->authorization(), "Bearer tvk_test-token");
    EXPECT_EQ(sent->body, "{\"audio\":\"" + audio.toBase64() + "\",\"format\":\"m4a\",\"diarize\":true}");

    // Inside the request time-out, past the transcription's.
    api.answer("ai/transcriptions", LoopbackAnswer::json(LoopbackApi::transcriptionAnswer()).after(2s));
    auto timing = fastTiming();
    timing.transcription = 300ms;
    account->setTimingForTests(timing);
    try {
        runTask(account->transcribe("x", QStringLiteral("m4a"), false));
        ADD_FAILURE() << "did not time out";
    } catch (const NetworkError& error) {
        EXPECT_EQ(error.kind(), NetworkError::Kind::timedOut);
    }
}

TEST_F(AiRequest, EveryFailureIsAnErrorWithItsSentence)
{
    const QString signedOut = QStringLiteral("You're not signed in to Tovrick. Sign in and try again.");
    const AccountSession valid = *account->session();
    AccountSession expired = valid;
    expired.expiresAt = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) - 1;
    AccountSession foreignToken = valid;
    foreignToken.deviceToken = QStringLiteral("abc_not-ours");

    struct Case {
        const char* what;
        std::optional<LoopbackAnswer> answer;
        QString sentence;
        QString code = {}; // set for errors the service named
        int status = 0;
        bool sends = true;
        std::function<void()> setup = {};
        double timeout = 5;
        Json body = Json::object();
    };
    const Case cases[] = {
        {"named code", LoopbackAnswer::error("rate_limited", 429),
         "Too many requests in a short time. Wait a moment and try again.", "rate_limited", 429},
        {"unknown code", LoopbackAnswer::error("something_new", 400),
         "The Tovrick service reported an error (something_new).", "something_new", 400},
        // Not JSON, or an "error" that is not a plain code: the status names it instead.
        {"not JSON", LoopbackAnswer::raw("<html>Bad Gateway</html>", 502, "text/html"),
         "The Tovrick service has a problem right now (http_502). Try again shortly.", "http_502", 502},
        {"markup as code", LoopbackAnswer::json(Json {{"error", "<b>injected\nline</b>"}}, 400),
         "The Tovrick service reported an error (http_400).", "http_400", 400},
        {"empty 401", LoopbackAnswer::raw("", 401), "Your Tovrick sign-in is no longer valid. Sign in again.",
         "http_401", 401},
        // Redirects are not followed: the bearer token goes nowhere else.
        {"redirect", LoopbackAnswer::raw("", 302), "The Tovrick service reported an error (http_302).", "http_302", 302},
        {"slow", LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(2s),
         "The Tovrick service didn't answer in time. Check the connection and try again.", {}, 0, true, {}, 0.3},
        // Standing, as the client may send it again once on its own.
        {"dropped", std::nullopt, "Tovrick couldn't reach its service. Check the internet connection and try again.",
         {}, 0, true, [&] { api.answer("ai/decisions", LoopbackAnswer::dropped()); }},
        {"infinite number", std::nullopt, "The Tovrick service couldn't accept that request.", "invalid_request", 0,
         false, {}, 5, Json {{"x", std::numeric_limits<double>::infinity()}}},
        {"signed out", std::nullopt, signedOut, {}, 0, false, [&] { account->clearSession(); }},
        {"expired", std::nullopt, signedOut, {}, 0, false, [&] { account->adoptSession(expired); }},
        {"token without tvk_", std::nullopt, signedOut, {}, 0, false, [&] { account->adoptSession(foreignToken); }},
        {"untrusted certificate", std::nullopt,
         "Tovrick couldn't verify the identity of its service, so it didn't send anything.", {}, 0, false, [&] {
             account = std::make_unique<TovrickAccount>(vault);
             account->setAPIBaseURLForTests(api.url());
         }},
        {"not configured", std::nullopt,
         "Tovrick isn't set up with the address of its service, so it can't reach your account.", {}, 0, false, [&] {
             qunsetenv("TOVRICK_API_URL");
             account = std::make_unique<TovrickAccount>(vault);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        account->adoptSession(valid);
        if (c.answer)
            api.answerOnce("ai/decisions", *c.answer);
        if (c.setup)
            c.setup();
        const auto before = api.requests().size();
        try {
            runTask(account->aiRequest(QStringLiteral("decisions"), c.body, c.timeout));
            ADD_FAILURE() << "did not fail";
        } catch (const TovrickAPIError& error) {
            EXPECT_EQ(error.description(), c.sentence);
            EXPECT_EQ(error.code(), c.code);
            EXPECT_EQ(error.httpStatus(), c.status);
        } catch (const NetworkError& error) {
            EXPECT_EQ(error.description(), c.sentence);
            EXPECT_TRUE(c.code.isEmpty());
        }
        EXPECT_EQ(api.requests().size() > before, c.sends);
        EXPECT_TRUE(!c.sends || account->isSignedIn()) << "a failed model request never signs the user out";
    }
}
