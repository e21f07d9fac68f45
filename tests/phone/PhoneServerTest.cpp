#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTcpSocket>

#include <memory>

#include "Tovrick/phone/PhoneServer.h"
#include "link/RawPeer.h"
#include "phone/MemoryVault.h"
#include "phone/SimPhone.h"
#include "support/RunTask.h"

namespace {

using namespace std::chrono_literals;

Packet command(const QString& name, const QString& callID = {})
{
    Packet packet;
    packet.command = name;
    if (!callID.isEmpty())
        packet.callID = callID;
    return packet;
}

class PhoneServerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        vault = &installMemoryVault();
        server = std::make_unique<PhoneServer>();
        server->setHandshakeLimit(300ms);
        server->setServiceName(uniqueServiceName());
        server->setClock([this] { return now; });
        server->onRequest = [this](const Packet& request, PhoneServer::Reply reply) {
            requests.append(request);
            Packet answer;
            answer.command = QStringLiteral("focusReply");
            answer.callID = request.callID;
            answer.text = request.command;
            reply(answer);
        };
        server->onDisconnect = [this] { ++disconnects; };
        ASSERT_TRUE(server->start());
        key = *PhoneServer::pairingRecord().key();
    }

    std::unique_ptr<SimPhone> pairedPhone()
    {
        auto phone = std::make_unique<SimPhone>(server->port(), key);
        EXPECT_TRUE(waitUntil([&] { return phone->received(QStringLiteral("paired")); }));
        return phone;
    }

    // Broadcasts a marker and waits until every phone has it, so whatever was sent before has arrived.
    void settle(std::initializer_list<SimPhone*> phones)
    {
        const QString marker = QStringLiteral("sync-%1").arg(++markers);
        Packet packet;
        packet.hello = marker;
        server->broadcast(packet);
        for (SimPhone* phone : phones)
            ASSERT_TRUE(waitUntil([&] { return phone->received(marker); })) << marker.toStdString();
    }

    MemoryVault* vault = nullptr;
    std::unique_ptr<PhoneServer> server;
    QByteArray key;
    std::chrono::milliseconds now { 10'000 };
    QList<Packet> requests;
    int disconnects = 0;
    int markers = 0;
};

int faces(const SimPhone& phone)
{
    return phone.count([](const Packet& p) { return p.face.has_value(); });
}

} // namespace

TEST(PhoneServerRecord, KeyIsMadeOnceStoredAndReused)
{
    MemoryVault& vault = installMemoryVault();
    const PairingRecord first = PhoneServer::pairingRecord();
    ASSERT_TRUE(first.key());
    EXPECT_EQ(first.version, 1);
    EXPECT_FALSE(first.service.isEmpty());
    EXPECT_EQ(vault.items.value(QStringLiteral("mac-transport")), *first.key());
    EXPECT_EQ(PhoneServer::pairingRecord(), first);

    // A stored value that no phone could use is replaced.
    vault.items.insert(QStringLiteral("mac-transport"), QByteArray(31, 'k'));
    const PairingRecord replaced = PhoneServer::pairingRecord();
    ASSERT_TRUE(replaced.key());
    EXPECT_EQ(vault.items.value(QStringLiteral("mac-transport")), *replaced.key());
}

TEST(PhoneServerRecord, AKeyThatCannotBeStoredIsNotHandedOut)
{
    MemoryVault& vault = installMemoryVault();
    vault.failWrites = true;
    EXPECT_FALSE(PhoneServer::pairingRecord().key());
    PhoneServer server;
    EXPECT_FALSE(server.start());
    EXPECT_FALSE(server.isListening());
}

TEST_F(PhoneServerTest, RequestsReachTheOwnerAndRepliesGoBackToTheAskingPhone)
{
    auto a = pairedPhone();
    auto b = pairedPhone();
    EXPECT_EQ(server->phoneCount(), 2);
    a->link->send(command(QStringLiteral("focusStart"), QStringLiteral("a-1")));
    b->link->send(command(QStringLiteral("focusPing"), QStringLiteral("b-1")));
    Packet hello;
    hello.hello = QStringLiteral("Tovrick integration probe");
    a->link->send(hello);
    a->link->send(command(QStringLiteral("focusSync"), QStringLiteral("a-2")));

    auto replies = [](const SimPhone& phone) {
        QStringList ids;
        for (const Packet& p : phone.packets)
            if (p.command == QStringLiteral("focusReply"))
                ids << *p.callID + QLatin1Char('=') + *p.text;
        return ids;
    };
    ASSERT_TRUE(waitUntil([&] { return replies(*a).size() == 2 && replies(*b).size() == 1; }));
    EXPECT_EQ(replies(*a), QStringList({ QStringLiteral("a-1=focusStart"), QStringLiteral("a-2=focusSync") }));
    EXPECT_EQ(replies(*b), QStringList({ QStringLiteral("b-1=focusPing") }));
    EXPECT_EQ(requests.size(), 3) << "a packet without a command is no request";
}

TEST_F(PhoneServerTest, AReplyKeptForLaterStillFindsItsPhoneAndIsHarmlessOnceItIsGone)
{
    PhoneServer::Reply kept;
    server->onRequest = [&](const Packet&, PhoneServer::Reply reply) { kept = std::move(reply); };
    auto phone = pairedPhone();
    phone->link->send(command(QStringLiteral("voiceResponse"), QStringLiteral("v-1")));
    ASSERT_TRUE(waitUntil([&] { return bool(kept); }));
    kept(command(QStringLiteral("voiceResponse"), QStringLiteral("v-1")));
    ASSERT_TRUE(waitUntil([&] { return phone->count([](const Packet& p) { return p.callID.has_value(); }) == 1; }));

    phone->link->close();
    ASSERT_TRUE(waitUntil([&] { return disconnects == 1; }));
    kept(command(QStringLiteral("voiceResponse"), QStringLiteral("v-1")));
}

TEST_F(PhoneServerTest, MisbehavingPeersAreDroppedWhileOthersCarryOn)
{
    auto good = pairedPhone();

    // A peer with the key that then sends garbage, a peer with the wrong key, a silent stranger.
    RawPeer rogue;
    SecureChannel channel(key, SecureChannel::Role::client);
    ASSERT_TRUE(rogue.connectTo(server->port()));
    ASSERT_TRUE(rogue.authenticate(channel));
    SimPhone stranger(server->port(), QByteArray(32, 'w'));
    RawPeer silent;
    ASSERT_TRUE(silent.connectTo(server->port()));
    ASSERT_TRUE(waitUntil([&] { return server->phoneCount() == 2; }));

    rogue.sendLine("{\"seq\":0,\"box\":\"garbage\"}");
    EXPECT_TRUE(rogue.waitClosedByPeer());
    EXPECT_TRUE(waitUntil([&] { return stranger.closed; }));
    EXPECT_FALSE(stranger.authenticated);
    EXPECT_TRUE(silent.waitClosedByPeer(3s));
    EXPECT_EQ(server->phoneCount(), 1);
    EXPECT_EQ(disconnects, 0) << "the good phone is still there";

    settle({ good.get() });
    good->link->send(command(QStringLiteral("focusPing"), QStringLiteral("g-1")));
    ASSERT_TRUE(waitUntil([&] { return good->count([](const Packet& p) { return p.callID.has_value(); }) == 1; }));

    good->link->close();
    ASSERT_TRUE(waitUntil([&] { return disconnects == 1; }));
    EXPECT_EQ(server->phoneCount(), 0);
}

TEST_F(PhoneServerTest, MalformedPacketsFromAPairedPhoneChangeNothing)
{
    RawPeer peer;
    SecureChannel channel(key, SecureChannel::Role::client);
    ASSERT_TRUE(peer.connectTo(server->port()));
    ASSERT_TRUE(peer.authenticate(channel));
    for (const char* bad : { "not json", R"({"command":["focusEnd"]})", R"({"command":"focusEnd","speech":0.5})",
                             R"({"command":"focusEnd","face":{}})", "null" })
        peer.sendLine(channel.seal(bad));
    peer.sendLine(channel.seal(command(QStringLiteral("focusSync")).encode()));
    ASSERT_TRUE(waitUntil([&] { return !requests.isEmpty(); }));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests.first().command, QStringLiteral("focusSync"));
    EXPECT_EQ(server->phoneCount(), 1);
}

TEST_F(PhoneServerTest, BroadcastReachesEveryPairedPhoneAndLastDisconnectIsReportedOnce)
{
    auto a = pairedPhone();
    auto b = pairedPhone();
    Packet state = command(QStringLiteral("focusState"));
    state.text = QStringLiteral("{}");
    server->broadcast(state);
    ASSERT_TRUE(waitUntil([&] {
        auto isState = [](const Packet& p) { return p.command == QStringLiteral("focusState"); };
        return a->count(isState) == 1 && b->count(isState) == 1;
    }));

    a->link->close();
    ASSERT_TRUE(waitUntil([&] { return server->phoneCount() == 1; }));
    EXPECT_EQ(disconnects, 0);
    b->link->close();
    ASSERT_TRUE(waitUntil([&] { return disconnects == 1; }));
    waitUntil([] { return false; }, 50ms);
    EXPECT_EQ(disconnects, 1);
}

TEST_F(PhoneServerTest, FaceIsSentOnlyWhenItMovedOrASecondPassed)
{
    auto phone = pairedPhone();
    const FaceState base { 0.5, 0.5, Mood::listening, 0.2 };
    struct Step {
        const char* name;
        std::chrono::milliseconds later;
        FaceState face;
        bool sent;
    };
    const Step steps[] = {
        { "first face", 0ms, base, true },
        { "same face at once", 100ms, base, false },
        { "gaze barely moved", 100ms, { 0.51, 0.49, Mood::listening, 0.2 }, false },
        { "mouth barely moved", 100ms, { 0.5, 0.5, Mood::listening, 0.24 }, false },
        { "gaze moved", 100ms, { 0.53, 0.5, Mood::listening, 0.2 }, true },
        { "gaze y moved", 100ms, { 0.53, 0.47, Mood::listening, 0.2 }, true },
        { "mouth moved", 100ms, { 0.53, 0.47, Mood::listening, 0.3 }, true },
        { "mood changed", 100ms, { 0.53, 0.47, Mood::talking, 0.3 }, true },
        { "same face 999 ms later", 999ms, { 0.53, 0.47, Mood::talking, 0.3 }, false },
        { "same face a second after the last sent", 1ms, { 0.53, 0.47, Mood::talking, 0.3 }, true },
    };
    int expected = 0;
    for (const Step& step : steps) {
        now += step.later;
        server->sendFace(step.face);
        expected += step.sent ? 1 : 0;
        settle({ phone.get() });
        EXPECT_EQ(faces(*phone), expected) << step.name;
    }

    // A phone that pairs later gets the next face at once, whatever the others last got.
    auto late = pairedPhone();
    now += 10ms;
    server->sendFace(steps[std::size(steps) - 1].face);
    settle({ phone.get(), late.get() });
    EXPECT_EQ(faces(*late), 1);
    EXPECT_EQ(faces(*phone), expected);
}
