#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTemporaryFile>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstdio>

#include "ProgramFolders.h"
#include "Tovrick/AppDelegate.h"
#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/FocusLinkProbe.h"
#include "Tovrick/FocusPhoneCommands.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "focus/FocusFakes.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "shared/focus/FocusSync.h"
#include "shared/link/LineConnection.h"
#include "support/RunTask.h"

namespace {

// The app's shell with a scripted focus world, its phone listener on a free loopback port and the
// pairing key in memory.
class FocusShell : public ::testing::Test {
protected:
    void SetUp() override
    {
        useOneMemoryVault();
        FocusEnvironment environment = world.environment();
        // Real time, sped up, so the probe's one-second rhythm meets checks due every 30 s.
        environment.now = [this] { return 1000 + speed * static_cast<double>(started.elapsed()) / 1000.0; };
        started.start();
        app = std::make_unique<AppDelegate>(std::move(environment), 0);
        app->launched();
        ASSERT_TRUE(app->phoneServer().isListening());
    }
    void TearDown() override
    {
        app.reset();
        TovrickAccount::shared().clearSession();
    }

    // A phone of our own: connects with the pairing key and collects what the app sends.
    struct Phone {
        LineConnection* link = nullptr;
        std::vector<Packet> received;
        bool authenticated = false;
    };
    std::unique_ptr<Phone> connectPhone()
    {
        auto phone = std::make_unique<Phone>();
        auto* socket = new QTcpSocket();
        socket->connectToHost(QHostAddress::LocalHost, app->phoneServer().port());
        phone->link = new LineConnection(socket, *PhoneServer::pairingRecord().key(), false, app.get());
        Phone* raw = phone.get();
        phone->link->onAuthenticated = [raw] { raw->authenticated = true; };
        phone->link->onPacket = [raw](const Packet& packet) { raw->received.push_back(packet); };
        phone->link->start();
        EXPECT_TRUE(waitUntil([raw] { return raw->authenticated; }));
        return phone;
    }
    static Packet command(const QString& name, const QString& callID, std::optional<QString> text = std::nullopt)
    {
        Packet packet;
        packet.command = name;
        packet.callID = callID;
        packet.text = std::move(text);
        return packet;
    }
    static std::optional<Packet> find(const Phone& phone, const QString& name, const QString& callID = {})
    {
        for (auto it = phone.received.rbegin(); it != phone.received.rend(); ++it)
            if (it->command == name && (callID.isEmpty() || it->callID == callID))
                return *it;
        return std::nullopt;
    }

    FocusLinkProbe::Options probeOptions(std::FILE* out)
    {
        FocusLinkProbe::Options options;
        options.address = QHostAddress(QHostAddress::LocalHost);
        options.port = app->phoneServer().port();
        options.pauseHold = 0.5;
        options.timeLimit = 60;
        options.out = out;
        return options;
    }
    static QString printed(std::FILE* out)
    {
        std::fflush(out);
        std::rewind(out);
        QByteArray all;
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, out))
            all.append(buffer);
        return QString::fromUtf8(all);
    }

    FocusWorld world;
    QElapsedTimer started;
    double speed = 1;
    std::unique_ptr<AppDelegate> app;
};

} // namespace

TEST_F(FocusShell, PhoneCommandsDriveTheEngineFromStartToShutdown)
{
    auto phone = connectPhone();
    const auto send = [&](const char* name, const QString& id, const char* text = nullptr) {
        phone->link->send(command(QString::fromLatin1(name), id,
                                  text ? std::optional(QString::fromLatin1(text)) : std::nullopt));
    };
    const auto replied = [&](const QString& id) {
        return waitUntil([&] { return find(*phone, QStringLiteral("focusReply"), id).has_value(); });
    };

    // Unreadable arguments get the engine's own refusal; a command missing what it needs, no reply.
    send("focusStart", QStringLiteral("bad"), "{not json");
    ASSERT_TRUE(replied(QStringLiteral("bad")));
    EXPECT_FALSE(app->focus().current().has_value());
    // Nesting that deep once overflowed the stack when the arguments were copied.
    const QByteArray deep = "{\"task\":" + QByteArray(100'000, '[') + QByteArray(100'000, ']') + "}";
    send("focusStart", QStringLiteral("deep"), deep.constData());
    ASSERT_TRUE(replied(QStringLiteral("deep")));
    EXPECT_FALSE(app->focus().current().has_value());
    send("focusDeveloperMode", QStringLiteral("dm"), "[]");

    send("focusStart", QStringLiteral("c1"), R"({"task":"Write the report","minutes":25})");
    ASSERT_TRUE(replied(QStringLiteral("c1")));
    EXPECT_FALSE(find(*phone, QStringLiteral("focusReply"), QStringLiteral("dm")).has_value());
    EXPECT_FALSE(app->focus().developerMode());
    ASSERT_TRUE(app->focus().current());
    EXPECT_EQ(app->focus().current()->duration, 1500);
    EXPECT_TRUE(app->focus().sessionRequiresPhone());
    EXPECT_TRUE(app->focus().connected);
    ASSERT_TRUE(waitUntil([&] { return find(*phone, QStringLiteral("focusState")).has_value(); }));
    EXPECT_EQ(FocusSync::decode(find(*phone, QStringLiteral("focusState"))->text->toUtf8()).current->task,
              QStringLiteral("Write the report"));

    const struct {
        const char* command;
        const char* text;
        FocusSession::Status status;
    } steps[] = {
        { "focusPause", nullptr, FocusSession::Status::paused },
        { "focusResume", nullptr, FocusSession::Status::running },
        { "focusPhoneInactive", nullptr, FocusSession::Status::paused },
        { "focusResume", nullptr, FocusSession::Status::running },
        { "focusDeveloperMode", R"({"developerMode":true})", FocusSession::Status::running },
    };
    int call = 2;
    for (const auto& step : steps) {
        const QString id = QStringLiteral("c%1").arg(call++);
        send(step.command, id, step.text);
        ASSERT_TRUE(replied(id)) << step.command;
        EXPECT_EQ(app->focus().current()->status, step.status) << step.command;
    }
    EXPECT_TRUE(app->focus().developerMode());
    app->focus().setDeveloperMode(false);

    // The last phone leaving pauses a session that needs it; shutdown pauses a running one, once.
    phone->link->close();
    ASSERT_TRUE(waitUntil([&] { return !app->focus().connected; }));
    EXPECT_EQ(app->focus().current()->detail, QStringLiteral("Phone disconnected. Reconnect, then resume."));
    app->focus().end();
    app->focus().start(QStringLiteral("Read"), false, 10);
    app->terminating();
    app->terminating();
    EXPECT_EQ(app->focus().current()->detail, QStringLiteral("Tovrick closed"));
    EXPECT_EQ(app->focus().current()->checks.size(), 1u);
}

TEST_F(FocusShell, ProbeDrivesAWholeSessionThroughThePhoneLink)
{
    // Four times real time: the first check comes after 7.5 s, and the phone, pinging every second,
    // never falls silent for the engine (5 s).
    speed = 4;
    std::FILE* out = std::tmpfile();
    const int status = runTask(FocusLinkProbe::run(false, false, probeOptions(out)), std::chrono::seconds(70));
    const QString lines = printed(out);
    std::fclose(out);
    EXPECT_EQ(status, 0) << lines.toStdString();
    for (const char* expected : { "LIVE app transport: authenticated", "LIVE app focus: started",
                                  "LIVE scheduled check at ", "LIVE app clock: paused without advancing",
                                  "LIVE app focus: resumed",
                                  "LIVE app integration: pause/resume/end synchronized; history contains the live check" })
        EXPECT_TRUE(lines.contains(QString::fromLatin1(expected))) << expected << "\n" << lines.toStdString();
    EXPECT_EQ(app->focus().history().front().task, FocusLinkProbe::kTask);
}

TEST_F(FocusShell, ProbeRefusesToDisturbAUsersSessionAndNeedsDeveloperModeForTheNudge)
{
    app->focus().start(QStringLiteral("My own work"), false, 30);
    std::FILE* out = std::tmpfile();
    EXPECT_EQ(runTask(FocusLinkProbe::run(false, false, probeOptions(out))), 1);
    EXPECT_EQ(runTask(FocusLinkProbe::run(false, true, probeOptions(out))), 1);
    app->focus().setDeveloperMode(true);
    EXPECT_EQ(runTask(FocusLinkProbe::run(false, true, probeOptions(out))), 0);
    app->focus().setDeveloperMode(false);
    const QString lines = printed(out);
    std::fclose(out);
    EXPECT_TRUE(lines.contains(QStringLiteral("LIVE app integration: active user session; skipped")));
    EXPECT_TRUE(lines.contains(QStringLiteral("LIVE app integration: enable Developer Mode first")));
    EXPECT_TRUE(lines.contains(
        QStringLiteral("LIVE app integration: test nudge dispatched through the real Mac bubble and phone chirp path")));
    EXPECT_EQ(app->focus().current()->task, QStringLiteral("My own work"));
}

TEST_F(FocusShell, ProbeTimesOutWithoutAnApp)
{
    std::FILE* out = std::tmpfile();
    FocusLinkProbe::Options options = probeOptions(out);
    app->phoneServer().stop();
    options.timeLimit = 1;
    EXPECT_EQ(runTask(FocusLinkProbe::run(false, false, options)), 1);
    const QString lines = printed(out);
    std::fclose(out);
    EXPECT_TRUE(lines.contains(QStringLiteral("LIVE app integration: timed out in discover"))) << lines.toStdString();
}

TEST_F(FocusShell, OnlyAnotherUserOrSigningOutEndsTheRunningSession)
{
    TovrickAccount& account = TovrickAccount::shared();
    AccountSession session { QStringLiteral("user-1"), QStringLiteral("device-1"), QStringLiteral("tvk_token"),
                             QStringLiteral("User"), std::nullopt,
                             static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 3.6e6, QStringLiteral("google"),
                             std::nullopt };
    account.adoptSession(session);
    // Each step is a new session value: the routine refresh only slides the expiry.
    const struct {
        const char* user;
        bool keeps;
    } steps[] = { { "user-1", true }, { "user-2", false }, { nullptr, false } };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.user ? step.user : "signed out");
        if (!app->focus().current())
            app->focus().start(QStringLiteral("Write"), false, 25);
        const QUuid id = app->focus().current()->id;
        session.expiresAt += 60000;
        session.userId = QString::fromLatin1(step.user);
        if (step.user)
            account.adoptSession(session);
        else
            account.clearSession();
        ASSERT_EQ(app->focus().current().has_value(), step.keeps);
        if (step.keeps) {
            EXPECT_EQ(app->focus().current()->id, id);
            EXPECT_EQ(app->focus().current()->status, FocusSession::Status::running);
        }
    }
}

TEST_F(FocusShell, ProbeLinkNoticesASilentAppWithinSeconds)
{
    std::FILE* out = std::tmpfile();
    FocusLinkProbe probe(false, false, probeOptions(out));
    probe.complete = [](int) {};
    probe.start();
    QTcpSocket* socket = nullptr;
    ASSERT_TRUE(waitUntil([&] {
        socket = probe.findChild<QTcpSocket*>();
        return socket && socket->state() == QAbstractSocket::ConnectedState;
    }));
    const auto option = [&](int level, int name) {
        int value = -1;
        socklen_t size = sizeof value;
        ::getsockopt(static_cast<int>(socket->socketDescriptor()), level, name, &value, &size);
        return value;
    };
    EXPECT_EQ(option(SOL_SOCKET, SO_KEEPALIVE), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPIDLE), 2);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPINTVL), 1);
    EXPECT_EQ(option(IPPROTO_TCP, TCP_KEEPCNT), 3);
    probe.finish(0, QStringLiteral("done"));
    std::fclose(out);
}

// Run by its own ctest entry, with no system bus to reach.
TEST(FocusProbe, DISABLED_ABrowserThatCannotStartIsTheOneClosingLine)
{
    std::FILE* out = std::tmpfile();
    FocusLinkProbe::Options options;
    options.timeLimit = 3;
    options.out = out;
    EXPECT_EQ(runTask(FocusLinkProbe::run(false, false, options)), 1);
    std::fflush(out);
    std::rewind(out);
    QStringList lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, out))
        lines.append(QString::fromUtf8(buffer).trimmed());
    std::fclose(out);
    ASSERT_EQ(lines.size(), 1) << lines.join(u'|').toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("LIVE app discovery: "))) << lines[0].toStdString();
}

TEST_F(FocusShell, APairedPhoneReceivesTheCharactersFaceAndItsSleep)
{
    auto phone = connectPhone();
    const auto face = [&](std::optional<Mood> mood) {
        return waitUntil([&] {
            return std::any_of(phone->received.begin(), phone->received.end(), [&](const Packet& packet) {
                return packet.face && (!mood || packet.face->mood == *mood);
            });
        });
    };
    EXPECT_TRUE(face(std::nullopt)) << "the running character reports its face";

    app->overlay().view().engine().setAwake(false);
    EXPECT_TRUE(waitUntil([&] { return find(*phone, QStringLiteral("sleep")).has_value(); }));
    EXPECT_TRUE(face(Mood::sleepy));
    app->overlay().view().engine().setAwake(true);
    EXPECT_TRUE(waitUntil([&] { return find(*phone, QStringLiteral("wake")).has_value(); }));
}
