#include <gtest/gtest.h>

#include <QFile>
#include <QTcpSocket>

#include "ProgramFolders.h"
#include "Tovrick/AppDelegate.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/assistant/ToolDispatcher.h"
#include "focus/FocusFakes.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "shared/link/LineConnection.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"
#include "Tovrick/screen/ComputerControl.h"

// Last: Xlib defines words (Status) that the program's own types use.
#include <X11/Xlib.h>
#undef Status

namespace {

// The whole shell, signed in against the loopback product API, with a phone on a real link.
class AssistantEndToEnd : public ::testing::Test {
protected:
    void SetUp() override
    {
        useOneMemoryVault();
        signInForTests(api);
        app = std::make_unique<AppDelegate>(world.environment(), 0);
        app->launched();
        ASSERT_TRUE(app->phoneServer().isListening());

        auto* socket = new QTcpSocket();
        socket->connectToHost(QHostAddress::LocalHost, app->phoneServer().port());
        phone = new LineConnection(socket, *PhoneServer::pairingRecord().key(), false, app.get());
        phone->onAuthenticated = [this] { authenticated = true; };
        phone->onPacket = [this](const Packet& packet) {
            if (packet.command)
                received.push_back(packet);
        };
        phone->start();
        ASSERT_TRUE(waitUntil([this] { return authenticated; }));
    }
    void TearDown() override
    {
        app.reset();
        TovrickAccount::shared().clearSession();
    }

    void send(const char* command, const QString& callID, std::optional<QString> text = std::nullopt,
              std::optional<QString> tool = std::nullopt, std::optional<QString> audio = std::nullopt)
    {
        Packet packet;
        packet.command = QString::fromLatin1(command);
        packet.callID = callID;
        packet.text = std::move(text);
        packet.tool = std::move(tool);
        packet.audio = std::move(audio);
        phone->send(packet);
    }
    std::vector<Packet> answers(const QString& command) const
    {
        std::vector<Packet> found;
        for (const Packet& packet : received)
            if (packet.command == command)
                found.push_back(packet);
        return found;
    }

    LoopbackApi api;
    FocusWorld world;
    std::unique_ptr<AppDelegate> app;
    LineConnection* phone = nullptr;
    bool authenticated = false;
    std::vector<Packet> received;
};

} // namespace

TEST_F(AssistantEndToEnd, ThePhoneTalksToTheModelRunsToolsInOrderAndStoresNotes)
{
    // A model turn reaches the loopback API and its answer comes back byte for byte.
    send("voiceResponse", QStringLiteral("v1"), QStringLiteral(R"({"input":[{"role":"user","content":"hello"}]})"));
    ASSERT_TRUE(waitUntil([&] { return !answers(QStringLiteral("voiceResponse")).empty(); }));
    const Packet turn = answers(QStringLiteral("voiceResponse")).front();
    EXPECT_EQ(turn.callID, QStringLiteral("v1"));
    EXPECT_EQ(turn.text->toUtf8(), json::dumpBytes(LoopbackApi::responseAnswer()));
    const Json body = api.lastRequest(QStringLiteral("ai/responses"))->json().at("body");
    EXPECT_EQ(body.at("model"), "gpt-6-luna");
    EXPECT_EQ(body.at("input").at(0).at("content"), "hello");

    // Tool calls come back in the order they were sent, each with its own call id.
    send("awake", QStringLiteral("w"));
    for (int i = 0; i < 20; ++i)
        send("tool", QStringLiteral("tool-%1").arg(i), QStringLiteral("{}"),
             i % 2 ? QStringLiteral("point_at") : QStringLiteral("look_at_screen"));
    ASSERT_TRUE(waitUntil([&] { return answers(QStringLiteral("toolResult")).size() == 20; }));
    const auto results = answers(QStringLiteral("toolResult"));
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(results[i].callID, QStringLiteral("tool-%1").arg(i));
        ASSERT_TRUE(results[i].text);
        const QString& text = *results[i].text;
        if (i % 2) {
            // A point without an id: there is either no reading yet or no such target in it.
            EXPECT_TRUE(text == QLatin1String("No target . Use an id from the last look_at_screen.")
                        || text == QLatin1String("Call look_at_screen first."))
                << text.toStdString();
            EXPECT_FALSE(results[i].image);
        } else if (results[i].image) {
            EXPECT_TRUE(text.startsWith(QStringLiteral("Frontmost app: "))) << text.toStdString();
        } else {
            // This test's display is not always there to read; the failure is a sentence too.
            EXPECT_TRUE(text.startsWith(QStringLiteral("I couldn't capture the screen: "))) << text.toStdString();
        }
    }
    EXPECT_TRUE(app->host().awake());

    // A meeting chunk is stored and answered with its segments and the notes folder.
    const QByteArray audio("m4a chunk bytes");
    send("transcribe", QStringLiteral("c1"), QStringLiteral(R"({"session":"ABCDEF12-3456","index":3,"sessionStarted":1773478800})"),
         std::nullopt, QString::fromLatin1(audio.toBase64()));
    ASSERT_TRUE(waitUntil([&] { return !answers(QStringLiteral("transcribed")).empty(); }));
    const Packet transcribed = answers(QStringLiteral("transcribed")).front();
    EXPECT_EQ(transcribed.callID, QStringLiteral("c1"));
    ASSERT_TRUE(transcribed.text.has_value());
    const Json notes = json::parse(transcribed.text->toUtf8());
    EXPECT_EQ(notes.at("segments").size(), 2u);
    EXPECT_EQ(notes.at("segments").at(1).at("speaker"), "B");
    QFile chunk(json::toQString(notes.at("notesPath").get<std::string>()) + QStringLiteral("/audio/chunk-003.m4a"));
    ASSERT_TRUE(chunk.open(QIODevice::ReadOnly));
    EXPECT_EQ(chunk.readAll(), audio);

    // Unknown commands go unanswered; a malformed record gets its empty reply.
    send("noSuchCommand", QStringLiteral("x1"));
    send("notes", QStringLiteral("n1"), QStringLiteral("not an object"));
    ASSERT_TRUE(waitUntil([&] { return !answers(QStringLiteral("notes")).empty(); }));
    EXPECT_FALSE(answers(QStringLiteral("notes")).front().text.has_value());
    for (const Packet& packet : received)
        EXPECT_NE(packet.callID, QStringLiteral("x1"));
}

// Whether the first pointer button is down on the display.
static bool buttonHeld(Display* display)
{
    Window root = 0;
    Window child = 0;
    int x = 0;
    int y = 0;
    int wx = 0;
    int wy = 0;
    unsigned mask = 0;
    XQueryPointer(display, DefaultRootWindow(display), &root, &child, &x, &y, &wx, &wy, &mask);
    return mask & Button1Mask;
}

TEST_F(AssistantEndToEnd, QuittingDuringADragLetsGoOfTheButtonAtOnce)
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") || !ComputerControl::shared().trusted())
        GTEST_SKIP() << "needs an X display with XTest and the accessibility bus (scripts/with-test-services)";
    Display* display = XOpenDisplay(nullptr);
    ASSERT_TRUE(display);
    send("awake", QStringLiteral("w"));
    send("tool", QStringLiteral("drag"), QStringLiteral(R"({"from_x": 100, "from_y": 100, "to_x": 900, "to_y": 900})"),
         QStringLiteral("drag"));
    ASSERT_TRUE(waitUntil([&] { return buttonHeld(display); }));
    // Quitting ends the event loop: the button goes up before anything else winds down.
    app->terminating();
    EXPECT_FALSE(buttonHeld(display));
    // The cut-short drag finishes its last steps before the shell goes.
    waitUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_FALSE(buttonHeld(display));
    XCloseDisplay(display);
}
