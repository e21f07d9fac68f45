#include <gtest/gtest.h>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/codex/CodexController.h"
#include "assistant/AssistantFakes.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

using namespace std::chrono_literals;

namespace {

class Dispatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        signInForTests(api);
        RealtimeHost::Ports ports;
        ports.notes = notes;
        ports.tools = tools;
        ports.stopMotivation = [this] { ++motivationStops; };
        host = std::make_unique<RealtimeHost>(codex, std::move(ports));
    }

    static QString items(int count)
    {
        QStringList list;
        for (int i = 0; i < count; ++i)
            list << QStringLiteral(R"({"role":"user","content":"hi %1"})").arg(i);
        return QStringLiteral(R"({"input":[%1]})").arg(list.join(QLatin1Char(',')));
    }
    // Runs the tool calls `names` and waits for all their answers.
    void callTools(const QStringList& names)
    {
        for (const QString& name : names) {
            Packet packet = request("tool", std::nullopt, name);
            packet.tool = name;
            host->handlePhoneRequest(packet, sink.reply());
        }
    }
    bool answered(std::size_t count) { return waitUntil([&] { return sink.packets.size() >= count; }); }

    LoopbackApi api;
    CodexController codex;
    std::shared_ptr<FakeNotes> notes = std::make_shared<FakeNotes>();
    std::shared_ptr<ScriptedTools> tools = std::make_shared<ScriptedTools>();
    int motivationStops = 0;
    ReplySink sink;
    std::unique_ptr<RealtimeHost> host;
};

} // namespace

TEST_F(Dispatch, MalformedRequestsGetTheirReplyAtOnceAndChangeNothing)
{
    const QString chunk = QStringLiteral(R"({"session":"3F2A9C1E-77","index":%1,"sessionStarted":%2})");
    const struct {
        const char* command;
        std::optional<QString> text;
        std::optional<QString> audio;
    } cases[] = {
        {"voiceResponse", std::nullopt, {}},
        {"voiceResponse", QStringLiteral("{not json"), {}},
        {"voiceResponse", QStringLiteral("[]"), {}},
        {"voiceResponse", QStringLiteral(R"({"inputs":[]})"), {}},
        {"voiceResponse", QStringLiteral(R"({"input":{"role":"user"}})"), {}},
        {"voiceResponse", QStringLiteral(R"({"input":[{"role":"user"},"hello"]})"), {}},
        {"voiceResponse", QStringLiteral(R"({"input":[null]})"), {}},
        {"voiceResponse", items(33), {}},
        {"transcribe", QStringLiteral("not json"), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("\"7\""), QStringLiteral("1.7e9")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("true"), QStringLiteral("1.7e9")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("7.5"), QStringLiteral("1.7e9")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("1e30"), QStringLiteral("1.7e9")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("18446744073709551615"), QStringLiteral("1")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("false")), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("\"1.7e9\"")), QStringLiteral("AAAA")},
        {"transcribe", QStringLiteral(R"({"session":7,"index":7,"sessionStarted":1})"), QStringLiteral("AAAA")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), std::nullopt},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("QQ")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("QQ=A")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("Q===")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("QQ==\n")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("QQ-_")},
        {"transcribe", chunk.arg(QStringLiteral("7"), QStringLiteral("1")), QStringLiteral("QUJD QQ==")},
        {"notes", std::nullopt, {}},
        {"notes", QStringLiteral("[1,2]"), {}},
    };
    int voiceRequests = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.command) + " " + c.text.value_or(QStringLiteral("<none>")).left(80).toStdString()
                     + " audio " + c.audio.value_or(QStringLiteral("<none>")).toStdString());
        sink.packets.clear();
        Packet packet = request(c.command, c.text, QStringLiteral("id-1"));
        packet.audio = c.audio;
        host->handlePhoneRequest(packet, sink.reply());
        voiceRequests += QString::fromLatin1(c.command) == QLatin1String("voiceResponse");
        ASSERT_EQ(sink.packets.size(), 1u);
        Packet expected;
        expected.command = QString::fromLatin1(c.command) == QLatin1String("voiceResponse") ? QStringLiteral("voiceResponse")
            : QString::fromLatin1(c.command) == QLatin1String("transcribe") ? QStringLiteral("transcribed")
                                                                             : QStringLiteral("notes");
        expected.callID = QStringLiteral("id-1");
        if (expected.command == QLatin1String("voiceResponse"))
            expected.text = QStringLiteral("{}");
        EXPECT_EQ(sink.packets[0], expected);
    }
    EXPECT_EQ(motivationStops, voiceRequests);
    EXPECT_EQ(notes->folderCalls, 0);
    EXPECT_EQ(notes->saves, 0);
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/responses")), 0);
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/transcriptions")), 0);
}

TEST_F(Dispatch, RepliesEchoTheCallIdOrLeaveItOutAndUnknownCommandsGetNone)
{
    host->handlePhoneRequest(request("notes", QStringLiteral(R"({"id":"a","started":1})"), std::nullopt), sink.reply());
    host->handlePhoneRequest(request("notes", QStringLiteral(R"({"id":"a","started":1})"), QStringLiteral("n2")),
                             sink.reply());
    notes->folder.reset();
    host->handlePhoneRequest(request("notes", QStringLiteral(R"({"started":1})"), QStringLiteral("n3")), sink.reply());
    ASSERT_EQ(sink.packets.size(), 3u);
    EXPECT_FALSE(sink.packets[0].callID.has_value());
    EXPECT_EQ(sink.packets[0].text, QStringLiteral("/notes/session"));
    EXPECT_EQ(sink.packets[1].callID, QStringLiteral("n2"));
    EXPECT_FALSE(sink.packets[2].text.has_value());
    EXPECT_EQ(sink.packets[2].encode(), QByteArray(R"({"command":"notes","callID":"n3"})"));

    Packet noCommand;
    noCommand.text = QStringLiteral("{}");
    host->handlePhoneRequest(noCommand, sink.reply());
    for (const char* command : {"VoiceResponse", "voiceresponse", "focusStart", "tools", "", "caption ", "awake"})
        host->handlePhoneRequest(request(command), sink.reply());
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(sink.packets.size(), 3u);
}

TEST_F(Dispatch, CaptionsAndAwakeReachTheCharacterHooks)
{
    std::vector<QString> live, final;
    std::vector<bool> awake;
    int changes = 0;
    host->character.liveCaption = [&](const QString& text) { live.push_back(text); };
    host->character.finalCaption = [&](const QString& text) { final.push_back(text); };
    host->character.awakeChanged = [&](bool value) { awake.push_back(value); };
    host->onChange = [&] { ++changes; };

    host->handlePhoneRequest(request("caption", QStringLiteral("  \n ")), sink.reply());
    EXPECT_FALSE(host->speaking());
    host->handlePhoneRequest(request("caption", QStringLiteral("\n Hello there \t")), sink.reply());
    EXPECT_TRUE(host->speaking());
    host->handlePhoneRequest(request("captionDone", QStringLiteral(" Hello there. ")), sink.reply());
    host->handlePhoneRequest(request("captionDone"), sink.reply());
    host->handlePhoneRequest(request("awake"), sink.reply());
    EXPECT_TRUE(host->awake());
    host->handlePhoneRequest(request("asleep"), sink.reply());
    EXPECT_FALSE(host->awake());

    EXPECT_EQ(live, (std::vector<QString> {QString(), QStringLiteral("Hello there")}));
    EXPECT_EQ(final, (std::vector<QString> {QStringLiteral(" Hello there. "), QString()}));
    EXPECT_EQ(awake, (std::vector<bool> {true, false}));
    EXPECT_EQ(changes, 2);
    EXPECT_TRUE(sink.packets.empty());
}

TEST_F(Dispatch, ToolCallsAnswerInArrivalOrderWhateverTheyWaitFor)
{
    std::vector<QString> events;
    tools->run = [&](QString name, QString arguments, CancelToken token) -> QCoro::Task<ToolResult> {
        events.push_back(QStringLiteral("start ") + name);
        // The first call waits longest: without the chain it would answer last.
        const auto wait = std::chrono::milliseconds(name == QLatin1String("a") ? 80 : name == QLatin1String("b") ? 30 : 0);
        auto sleep = cancellableSleep(wait, token);
        co_await std::move(sleep);
        co_return ToolResult {name + QLatin1Char(':') + arguments, std::nullopt};
    };
    const RealtimeHost::Reply recordingReply = [&](const Packet& packet) {
        events.push_back(QStringLiteral("reply ") + *packet.callID);
        sink.packets.push_back(packet);
    };
    for (const char* name : {"a", "b", "c"}) {
        Packet packet = request("tool", name == std::string("b") ? std::optional(QStringLiteral(R"({"x":1})")) : std::nullopt,
                                QString::fromLatin1(name));
        packet.tool = QString::fromLatin1(name);
        host->handlePhoneRequest(packet, recordingReply);
    }
    // No tool name: the call still runs, with an empty name.
    host->handlePhoneRequest(request("tool", std::nullopt, QStringLiteral("d")), recordingReply);
    EXPECT_TRUE(events.empty()); // the request returns at once
    ASSERT_TRUE(answered(4));
    EXPECT_EQ(events, (std::vector<QString> {"start a", "reply a", "start b", "reply b", "start c", "reply c",
                                             "start ", "reply d"}));
    EXPECT_EQ(sink.packets[0].text, QStringLiteral("a:{}"));
    EXPECT_EQ(sink.packets[1].text, QStringLiteral(R"(b:{"x":1})"));
    EXPECT_EQ(sink.packets[2].encode(), QByteArray(R"({"command":"toolResult","callID":"c","text":"c:{}"})"));
}

TEST_F(Dispatch, GoingToSleepCutsTheRunningCallShortAndCallsOffTheQueuedOnes)
{
    std::vector<std::pair<QString, bool>> started; // name, token cancelled at start
    tools->run = [&](QString name, QString, CancelToken token) -> QCoro::Task<ToolResult> {
        started.emplace_back(name, token.isCancelled());
        auto sleep = cancellableSleep(1h, token);
        const bool slept = co_await std::move(sleep);
        co_return ToolResult {slept ? QStringLiteral("slept") : QStringLiteral("woken early"),
                              QStringLiteral("aW1hZ2U=")};
    };
    host->handlePhoneRequest(request("awake"), sink.reply());
    callTools({QStringLiteral("one"), QStringLiteral("two"), QStringLiteral("three")});
    ASSERT_TRUE(waitUntil([&] { return started.size() == 1; }));
    host->handlePhoneRequest(request("asleep"), sink.reply());
    ASSERT_TRUE(answered(3));
    EXPECT_EQ(sink.packets[0].text, QStringLiteral("woken early"));
    EXPECT_EQ(sink.packets[0].image, QStringLiteral("aW1hZ2U="));
    for (int i : {1, 2}) {
        EXPECT_EQ(sink.packets[i].text, RealtimeHost::signInSentence());
        EXPECT_FALSE(sink.packets[i].image.has_value());
    }
    EXPECT_EQ(started.size(), 1u);

    // A fresh chain: the next call runs, uncancelled, and sleeping again cuts it short too.
    callTools({QStringLiteral("four")});
    ASSERT_TRUE(waitUntil([&] { return started.size() == 2; }));
    EXPECT_EQ(started[1], std::make_pair(QStringLiteral("four"), false));
    host->setAwake(false);
    ASSERT_TRUE(answered(4));
    waitUntil([] { return false; }, 50ms);
    ASSERT_EQ(sink.packets.size(), 4u);
    EXPECT_EQ(sink.packets[3].callID, QStringLiteral("four"));
    EXPECT_EQ(sink.packets[3].text, QStringLiteral("woken early"));
}

TEST_F(Dispatch, TheUsersStopAnswersTheQueuedCallsWithoutRunningThem)
{
    // The running call is let through by the test; what waits behind it must never start.
    CancelToken release;
    QStringList started;
    tools->run = [&](QString name, QString, CancelToken) -> QCoro::Task<ToolResult> {
        started << name;
        if (name == QLatin1String("type_text")) {
            auto held = cancellableSleep(1h, release);
            co_await std::move(held);
        }
        co_return ToolResult {QStringLiteral("ran ") + name, std::nullopt};
    };
    host->handlePhoneRequest(request("awake"), sink.reply());
    callTools({QStringLiteral("type_text"), QStringLiteral("web_research"), QStringLiteral("press_keys")});
    ASSERT_TRUE(waitUntil([&] { return started.size() == 1; }));
    host->stop();
    // Sent after the stop: the user's next request, which runs.
    callTools({QStringLiteral("look_at_screen")});
    release.cancel();
    ASSERT_TRUE(answered(4));
    EXPECT_EQ(started, (QStringList {QStringLiteral("type_text"), QStringLiteral("look_at_screen")}));
    EXPECT_EQ(sink.packets[0].text, QStringLiteral("ran type_text"));
    for (int i : {1, 2}) {
        EXPECT_EQ(sink.packets[i].callID, i == 1 ? QStringLiteral("web_research") : QStringLiteral("press_keys"));
        EXPECT_EQ(sink.packets[i].text, ComputerActions::stoppedSentence());
        EXPECT_FALSE(sink.packets[i].image.has_value());
    }
    EXPECT_EQ(sink.packets[3].text, QStringLiteral("ran look_at_screen"));
}

TEST_F(Dispatch, TenThousandToolCallsAtOnceGetTenThousandAnswersInOrder)
{
    RealtimeHost plain(codex);
    constexpr int count = 10000;
    for (int i = 0; i < count; ++i) {
        Packet packet = request("tool", QStringLiteral("{}"), QString::number(i));
        packet.tool = QStringLiteral("look_at_screen");
        plain.handlePhoneRequest(packet, sink.reply());
    }
    ASSERT_TRUE(answered(count));
    for (int i = 0; i < count; ++i) {
        ASSERT_EQ(sink.packets[i].callID, QString::number(i));
        ASSERT_EQ(sink.packets[i].text, UnavailableTools::sentence());
    }
}
