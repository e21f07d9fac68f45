#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include "Tovrick/codex/CodexController.h"
#include "assistant/AssistantFakes.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Settings.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

// The host over the loopback product API, with the real notes folder under the test's documents.
class Service : public ::testing::Test {
protected:
    void SetUp() override
    {
        signInForTests(api);
        RealtimeHost::Ports ports;
        ports.turnTimeoutSeconds = 0.5;
        ports.stopMotivation = [] {};
        host = std::make_unique<RealtimeHost>(codex, std::move(ports));
    }
    void TearDown() override { CodexController::setExecutablePaths(std::nullopt); }

    Packet turn(const QString& callID, const QString& text = QStringLiteral(R"({"input":[{"role":"user","content":"hi"}]})"))
    {
        const std::size_t before = sink.packets.size();
        host->handlePhoneRequest(request("voiceResponse", text, callID), sink.reply());
        EXPECT_TRUE(waitUntil([&] { return sink.packets.size() > before; }));
        return sink.packets.back();
    }
    Packet chunk(std::int64_t index, const QByteArray& audio, const QString& session = QStringLiteral("3F2A9C1E-aaaa"))
    {
        const std::size_t before = sink.packets.size();
        Packet packet = request("transcribe",
                                QStringLiteral(R"({"session":"%1","index":%2,"sessionStarted":1773478800.5})")
                                    .arg(session)
                                    .arg(index),
                                QStringLiteral("t%1").arg(index));
        packet.audio = QString::fromLatin1(audio.toBase64());
        host->handlePhoneRequest(packet, sink.reply());
        EXPECT_TRUE(waitUntil([&] { return sink.packets.size() > before; }));
        return sink.packets.back();
    }

    LoopbackApi api;
    CodexController codex;
    ReplySink sink;
    std::unique_ptr<RealtimeHost> host;
};

} // namespace

TEST_F(Service, AModelTurnPostsFreshInstructionsAndToolsAndRelaysTheAnswerUnchanged)
{
    // The coding agent appears and computer control goes off between two turns: each turn sees it.
    Settings::shared().setComputerControl(true);
    QStringList items;
    for (int i = 0; i < RealtimeHost::maximumInputItems; ++i)
        items << QStringLiteral(R"({"type":"message","n":%1})").arg(i);
    const QString input = QStringLiteral(R"({"input":[%1],"extra":true})").arg(items.join(QLatin1Char(',')));
    const QByteArray answer = R"({ "id" : "resp_1", "output" : [ ] , "note":"kept \u00e9 as sent" })";
    api.answerOnce(QStringLiteral("ai/responses"), LoopbackAnswer::raw(answer, 200, "application/json"));
    const Packet first = turn(QStringLiteral("v1"), input);
    EXPECT_EQ(first.callID, QStringLiteral("v1"));
    EXPECT_EQ(first.text->toUtf8(), answer);

    const Json sent = api.lastRequest(QStringLiteral("ai/responses"))->json().at("body");
    EXPECT_EQ(sent.at("model"), "gpt-6-luna");
    EXPECT_EQ(sent.at("instructions"), json::fromQString(RealtimeHost::instructions({false, true})));
    EXPECT_EQ(sent.at("tools").size(), 18u);
    EXPECT_EQ(sent.at("input"), json::parse(input.toUtf8()).at("input"));
    std::vector<std::string> keys;
    for (const auto& [key, value] : sent.items())
        keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string> {"model", "instructions", "tools", "input"}));

    QTemporaryDir bin;
    const QString agent = bin.filePath(QStringLiteral("codex"));
    QFile script(agent);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\n");
    script.close();
    script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    CodexController::setExecutablePaths(QStringList {agent});
    Settings::shared().setComputerControl(false);
    turn(QStringLiteral("v2"));
    const Json second = api.lastRequest(QStringLiteral("ai/responses"))->json().at("body");
    EXPECT_EQ(second.at("tools").size(), 16u);
    EXPECT_EQ(second.at("instructions"), json::fromQString(RealtimeHost::instructions({true, false})));
    Settings::shared().setComputerControl(true);
}

TEST_F(Service, AnswersThatAreNotJsonPassAndFailuresBecomeAnErrorObject)
{
    const struct {
        LoopbackAnswer answer;
        std::optional<QByteArray> text;
    } cases[] = {
        {LoopbackAnswer::raw("plain words, not JSON\n"), QByteArray("plain words, not JSON\n")},
        {LoopbackAnswer::raw(""), QByteArray("")},
        // Not UTF-8: never patched up, the reply leaves the text out.
        {LoopbackAnswer::raw("{\"a\":\"\xff\xfe\"}"), std::nullopt},
        {LoopbackAnswer::raw("\xc0\xaf"), std::nullopt},
        {LoopbackAnswer::error(QStringLiteral("upstream_failed"), 500),
         json::dumpBytes(Json {{"error", json::fromQString(TovrickAPIError::messageForCode(
                                             QStringLiteral("upstream_failed"), 500))}})},
        {LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(3s),
         json::dumpBytes(Json {{"error", json::fromQString(NetworkError::timedOut().description())}})},
    };
    int call = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(call);
        api.answerOnce(QStringLiteral("ai/responses"), c.answer);
        const Packet reply = turn(QString::number(call++));
        EXPECT_EQ(reply.command, QStringLiteral("voiceResponse"));
        EXPECT_EQ(reply.text ? std::optional(reply.text->toUtf8()) : std::nullopt, c.text);
    }
}

TEST_F(Service, AChunkIsStoredAndAnsweredWithItsSegments)
{
    const QByteArray audio("\x00\x01m4a bytes\xff", 13);
    const Packet reply = chunk(0, audio);
    ASSERT_TRUE(reply.text.has_value());
    const Json answer = json::parse(reply.text->toUtf8());
    const QString folder = json::toQString(answer.at("notesPath").get<std::string>());
    EXPECT_EQ(answer, (Json {{"segments", Json::array({{{"speaker", "A"}, {"start", 0.0}, {"text", "Hello from the"}},
                                                        {{"speaker", "B"}, {"start", 1.5}, {"text", "loopback API."}}})},
                             {"notesPath", json::fromQString(folder)}}));
    EXPECT_TRUE(folder.startsWith(AppPaths::documents() + QStringLiteral("/Tovrick Notes/")
                                  + TovrickAccount::nonceHash(QStringLiteral("user-1")) + QLatin1Char('/')));
    EXPECT_TRUE(folder.endsWith(QStringLiteral(" 3f2a9c1e")));
    QFile stored(folder + QStringLiteral("/audio/chunk-000.m4a"));
    ASSERT_TRUE(stored.open(QIODevice::ReadOnly));
    EXPECT_EQ(stored.readAll(), audio);
    const Json sent = api.lastRequest(QStringLiteral("ai/transcriptions"))->json();
    EXPECT_EQ(sent.at("audio"), audio.toBase64().toStdString());
    EXPECT_EQ(sent.at("diarize"), true);

    // Same index again overwrites; a big index keeps all its digits; the session keeps its folder.
    chunk(0, "again");
    chunk(1234, "later", QStringLiteral("3f2a9c1e-other-start"));
    QFile again(folder + QStringLiteral("/audio/chunk-000.m4a"));
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), QByteArray("again"));
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/audio/chunk-1234.m4a")));
}

TEST_F(Service, ADiarizedFailureFallsBackToPlainOnceAndAFailedOneAnswersWithoutText)
{
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::error(QStringLiteral("diarize_failed"), 500));
    const Packet fallback = chunk(7, "audio");
    ASSERT_TRUE(fallback.text.has_value());
    const Json answer = json::parse(fallback.text->toUtf8());
    EXPECT_EQ(answer.at("segments"),
              Json::array({{{"speaker", "?"}, {"start", 0.0}, {"text", "Hello from the loopback API."}}}));
    const auto sent = api.requests(QStringLiteral("ai/transcriptions"));
    ASSERT_EQ(sent.size(), 2);
    EXPECT_EQ(sent[0].json().at("diarize"), true);
    EXPECT_EQ(sent[1].json().at("diarize"), false);

    // No speech: no segments, still the folder.
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::json({{"text", ""}, {"segments", Json::array()}}));
    const Packet silent = chunk(8, "quiet");
    EXPECT_EQ(json::parse(silent.text->toUtf8()).at("segments"), Json::array());

    // Both fail (an answer that is not an object counts as a failure): no text, the chunk stays.
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::raw("[1]", 200, "application/json"));
    api.answerOnce(QStringLiteral("ai/transcriptions"), LoopbackAnswer::raw("\xff", 200, "application/json"));
    const Packet failed = chunk(9, "lost");
    EXPECT_EQ(failed.encode(), QByteArray(R"({"command":"transcribed","callID":"t9"})"));
    const QString folder = json::toQString(answer.at("notesPath").get<std::string>());
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/audio/chunk-009.m4a")));

    // An id that would reach out of the notes folder gets no folder at all.
    const Packet outside = chunk(1, "x", QStringLiteral("../../x"));
    EXPECT_FALSE(outside.text.has_value());
    EXPECT_FALSE(QFile::exists(AppPaths::documents() + QStringLiteral("/x")));
}
