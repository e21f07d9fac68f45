#include <gtest/gtest.h>

#include <QTcpServer>

#include "link/Peers.h"

namespace {

using namespace std::chrono_literals;

const QByteArray pairingKey(32, '\x11');

class LineConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(listener.listen(QHostAddress::LocalHost)); }

    // A server end for whoever connects next; forgets the previous one.
    void serve(std::chrono::milliseconds limit = 8s)
    {
        server = End();
        listener.disconnect();
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this, limit] {
            auto* connection = new LineConnection(listener.nextPendingConnection(), pairingKey, true);
            connection->setHandshakeLimit(limit);
            server.attach(connection);
            connection->start();
        });
    }

    // A raw peer that has passed the handshake with a fresh server end.
    std::unique_ptr<RawPeer> authenticatedRawPeer(SecureChannel& channel)
    {
        serve();
        auto peer = std::make_unique<RawPeer>(listener.serverPort());
        EXPECT_TRUE(peer->authenticate(channel));
        EXPECT_TRUE(waitUntil([&] { return server.authenticated; }));
        return peer;
    }

    QTcpServer listener;
    End server;
    End client;
};

} // namespace

TEST_F(LineConnectionTest, HandshakeThenPairedHelloThenPacketsBothWays)
{
    serve();
    client.connectTo(listener.serverPort(), pairingKey);
    client.link->send(command(QStringLiteral("before authentication")));
    ASSERT_TRUE(waitUntil([&] { return server.authenticated && client.authenticated && !client.packets.isEmpty(); }));
    EXPECT_EQ(client.packets.first().hello, QStringLiteral("paired"));

    client.link->send(command(QStringLiteral("focusPing"), QStringLiteral("1")));
    Packet face;
    face.face = FaceState { 0.1, 0.2, Mood::happy, 0.3 };
    server.link->send(face);
    // A meeting-note chunk of several megabytes passes in one record.
    Packet chunk = command(QStringLiteral("notes"));
    chunk.audio = QString(3 * 1024 * 1024, QLatin1Char('A'));
    client.link->send(chunk);
    ASSERT_TRUE(waitUntil([&] { return server.packets.size() == 2 && client.packets.size() == 2; }));
    EXPECT_EQ(server.packets.first(), command(QStringLiteral("focusPing"), QStringLiteral("1")));
    EXPECT_EQ(server.packets.last(), chunk);
    EXPECT_EQ(client.packets.last(), face);

    client.link->close();
    EXPECT_TRUE(waitUntil([&] { return server.closed(); }));
    EXPECT_EQ(client.closes, 1);
    EXPECT_EQ(server.closes, 1);
}

TEST_F(LineConnectionTest, WrongKeyNeverAuthenticatesAndBothEndsClose)
{
    serve();
    client.connectTo(listener.serverPort(), QByteArray(32, '\x12'));
    ASSERT_TRUE(waitUntil([&] { return server.closed() && client.closed(); }));
    EXPECT_FALSE(server.authenticated || client.authenticated);
    EXPECT_TRUE(server.packets.isEmpty() && client.packets.isEmpty());
}

TEST_F(LineConnectionTest, SilentPeerRunsOutOfTime)
{
    serve(150ms);
    RawPeer silent(listener.serverPort());
    ASSERT_TRUE(waitUntil([&] { return server.closed(); }, 3s));
    EXPECT_TRUE(server.reason.contains(QStringLiteral("handshake did not finish")));
    EXPECT_TRUE(silent.waitClosedByPeer());
}

TEST_F(LineConnectionTest, OverLongLineClosesTheConnectionBeforeAndAfterAuthentication)
{
    for (const bool authenticate : { false, true }) {
        SCOPED_TRACE(authenticate);
        SecureChannel channel(pairingKey, SecureChannel::Role::client);
        std::unique_ptr<RawPeer> peer;
        if (authenticate) {
            peer = authenticatedRawPeer(channel);
        } else {
            serve();
            peer = std::make_unique<RawPeer>(listener.serverPort());
        }
        // Never finished: the limit applies while the line is still arriving.
        peer->socket.write(QByteArray(
            (authenticate ? LineConnection::maximumLine : LineConnection::maximumHandshakeLine) + 1, 'x'));
        ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
        EXPECT_TRUE(server.reason.contains(QStringLiteral("too long")));
        EXPECT_TRUE(peer->waitClosedByPeer());
    }
}

TEST_F(LineConnectionTest, BadRecordsCloseTheConnection)
{
    for (const std::string_view kind : { "garbage", "shorter than counter and tag", "ciphertext changed", "tag changed",
                                         "reordered", "reordered, claiming the expected counter", "replayed" }) {
        SCOPED_TRACE(kind);
        SecureChannel channel(pairingKey, SecureChannel::Role::client);
        auto peer = authenticatedRawPeer(channel);
        const QByteArray fine = channel.seal(command(QStringLiteral("fine")).encode());
        if (kind.starts_with("reordered"))
            channel.seal("{}");
        QByteArray bytes = QByteArray::fromBase64(channel.seal(command(QStringLiteral("bad")).encode()));
        if (kind == "ciphertext changed")
            bytes[8] ^= 1;
        else if (kind == "tag changed")
            bytes.back() ^= 1;
        else if (kind == "reordered, claiming the expected counter")
            bytes[7] = 1;
        else if (kind == "shorter than counter and tag")
            bytes = QByteArray(23, '\0');
        peer->sendLine(fine);
        peer->sendLine(kind == "garbage" ? QByteArray("garbage") : kind == "replayed" ? fine : bytes.toBase64());
        ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
        ASSERT_EQ(server.packets.size(), 1);
        EXPECT_EQ(server.packets.first().command, QStringLiteral("fine"));
        EXPECT_TRUE(peer->waitClosedByPeer());
    }
}

TEST_F(LineConnectionTest, SealedPacketThatDoesNotDecodeIsDroppedAndTheLinkStays)
{
    SecureChannel channel(pairingKey, SecureChannel::Role::client);
    auto peer = authenticatedRawPeer(channel);
    for (const char* bad : { "not json", R"({"command":7})", R"({"command":"focusEnd","face":{}})" })
        peer->sendLine(channel.seal(bad));
    peer->sendLine(channel.seal(command(QStringLiteral("good")).encode()));
    ASSERT_TRUE(waitUntil([&] { return !server.packets.isEmpty(); }));
    EXPECT_EQ(server.packets.size(), 1);
    EXPECT_EQ(server.packets.first().command, QStringLiteral("good"));
    EXPECT_FALSE(server.closed());
}

TEST_F(LineConnectionTest, OwnerMayLetGoOfTheConnectionInsideItsCallbacks)
{
    serve();
    client.connectTo(listener.serverPort(), pairingKey);
    ASSERT_TRUE(waitUntil([&] { return server.authenticated; }));
    server.link->onPacket = [this](const Packet&) {
        server.link->close();
        server.link.release()->deleteLater();
    };
    client.link->send(command(QStringLiteral("a")));
    client.link->send(command(QStringLiteral("b")));
    EXPECT_TRUE(waitUntil([&] { return client.closed(); }));
}
