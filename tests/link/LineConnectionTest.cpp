#include <gtest/gtest.h>

#include <QTcpServer>
#include <QTcpSocket>

#include <memory>

#include "link/RawPeer.h"
#include "shared/link/LineConnection.h"
#include "support/RunTask.h"

namespace {

using namespace std::chrono_literals;

const QByteArray pairingKey(32, '\x11');

// One end of a link, with what it has seen.
struct End {
    std::unique_ptr<LineConnection> link;
    QList<Packet> packets;
    bool authenticated = false;
    int closes = 0;
    QString reason;

    void attach(LineConnection* connection)
    {
        link.reset(connection);
        link->onAuthenticated = [this] { authenticated = true; };
        link->onPacket = [this](const Packet& packet) { packets.append(packet); };
        link->onClosed = [this](const QString& why) {
            ++closes;
            reason = why;
        };
    }
    bool closed() const { return closes > 0; }
};

Packet command(const QString& name, const QString& callID = {})
{
    Packet packet;
    packet.command = name;
    if (!callID.isEmpty())
        packet.callID = callID;
    return packet;
}

class LineConnectionTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(listener.listen(QHostAddress::LocalHost)); }

    // A server end waiting for whoever connects next, with `key`.
    void serve(const QByteArray& key = pairingKey, std::chrono::milliseconds limit = 8s)
    {
        QObject::connect(&listener, &QTcpServer::newConnection, &listener, [this, key, limit] {
            auto* connection = new LineConnection(listener.nextPendingConnection(), key, true);
            connection->setHandshakeLimit(limit);
            server.attach(connection);
            connection->start();
        });
    }

    void connectClient(const QByteArray& key = pairingKey, std::chrono::milliseconds limit = 8s)
    {
        auto* socket = new QTcpSocket;
        socket->connectToHost(QHostAddress::LocalHost, listener.serverPort());
        auto* connection = new LineConnection(socket, key, false);
        connection->setHandshakeLimit(limit);
        client.attach(connection);
        connection->start();
    }

    // A raw peer that has passed the handshake with the server end.
    void authenticatedRawPeer(RawPeer& peer, SecureChannel& channel)
    {
        serve();
        ASSERT_TRUE(peer.connectTo(listener.serverPort()));
        ASSERT_TRUE(peer.authenticate(channel));
        ASSERT_TRUE(waitUntil([&] { return server.authenticated; }));
    }

    QTcpServer listener;
    End server;
    End client;
};

} // namespace

TEST_F(LineConnectionTest, HandshakeThenPairedHelloThenPacketsBothWays)
{
    serve();
    connectClient();
    ASSERT_TRUE(waitUntil([&] { return server.authenticated && client.authenticated; }));
    ASSERT_TRUE(waitUntil([&] { return !client.packets.isEmpty(); }));
    EXPECT_EQ(client.packets.first().hello, QStringLiteral("paired"));

    client.link->send(command(QStringLiteral("focusPing"), QStringLiteral("1")));
    Packet face;
    face.face = FaceState { 0.1, 0.2, Mood::happy, 0.3 };
    server.link->send(face);
    ASSERT_TRUE(waitUntil([&] { return server.packets.size() == 1 && client.packets.size() == 2; }));
    EXPECT_EQ(server.packets.first(), command(QStringLiteral("focusPing"), QStringLiteral("1")));
    EXPECT_EQ(client.packets.last(), face);

    // A meeting-note chunk of several megabytes passes in one record.
    Packet chunk = command(QStringLiteral("notes"));
    chunk.audio = QString(3 * 1024 * 1024, QLatin1Char('A'));
    client.link->send(chunk);
    ASSERT_TRUE(waitUntil([&] { return server.packets.size() == 2; }));
    EXPECT_EQ(server.packets.last().audio->size(), 3 * 1024 * 1024);
    EXPECT_FALSE(server.closed() || client.closed());

    client.link->close();
    EXPECT_TRUE(waitUntil([&] { return server.closed(); }));
    EXPECT_EQ(client.closes, 1);
    EXPECT_EQ(server.closes, 1);
}

TEST_F(LineConnectionTest, SendBeforeAuthenticationDoesNothing)
{
    serve();
    connectClient();
    client.link->send(command(QStringLiteral("early")));
    ASSERT_TRUE(waitUntil([&] { return server.authenticated && client.authenticated; }));
    client.link->send(command(QStringLiteral("late")));
    ASSERT_TRUE(waitUntil([&] { return !server.packets.isEmpty(); }));
    waitUntil([] { return false; }, 50ms);
    ASSERT_EQ(server.packets.size(), 1);
    EXPECT_EQ(server.packets.first().command, QStringLiteral("late"));
}

TEST_F(LineConnectionTest, WrongKeyNeverAuthenticatesAndBothEndsClose)
{
    serve(pairingKey);
    connectClient(QByteArray(32, '\x12'));
    ASSERT_TRUE(waitUntil([&] { return server.closed() && client.closed(); }));
    EXPECT_FALSE(server.authenticated);
    EXPECT_FALSE(client.authenticated);
    EXPECT_TRUE(server.packets.isEmpty() && client.packets.isEmpty());
}

TEST_F(LineConnectionTest, SilentPeersRunOutOfTime)
{
    serve(pairingKey, 150ms);
    RawPeer silent;
    ASSERT_TRUE(silent.connectTo(listener.serverPort()));
    ASSERT_TRUE(waitUntil([&] { return server.closed(); }, 3s));
    EXPECT_TRUE(server.reason.contains(QStringLiteral("handshake did not finish")));
    EXPECT_TRUE(silent.waitClosedByPeer());

    // A client whose server accepts the connection and never answers gives up too.
    QTcpServer mute;
    ASSERT_TRUE(mute.listen(QHostAddress::LocalHost));
    auto* socket = new QTcpSocket;
    socket->connectToHost(QHostAddress::LocalHost, mute.serverPort());
    client.attach(new LineConnection(socket, pairingKey, false));
    client.link->setHandshakeLimit(150ms);
    client.link->start();
    ASSERT_TRUE(waitUntil([&] { return client.closed(); }, 3s));
    EXPECT_FALSE(client.authenticated);
}

TEST_F(LineConnectionTest, UnauthenticatedPeerCannotMakeUsBufferALongLine)
{
    serve();
    RawPeer peer;
    ASSERT_TRUE(peer.connectTo(listener.serverPort()));
    peer.socket.write(QByteArray(LineConnection::maximumHandshakeLine + 10, 'x'));
    ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
    EXPECT_TRUE(peer.waitClosedByPeer());
}

TEST_F(LineConnectionTest, BadRecordsCloseTheConnection)
{
    struct Case {
        const char* name;
        std::function<QByteArray(SecureChannel&)> line;
    };
    const Case cases[] = {
        { "garbage", [](SecureChannel&) { return QByteArray("garbage"); } },
        { "tampered",
          [](SecureChannel& channel) {
              QByteArray record = channel.seal(command(QStringLiteral("x")).encode());
              record[20] = record[20] == 'A' ? 'B' : 'A';
              return record;
          } },
        { "reordered",
          [](SecureChannel& channel) {
              channel.seal("{}");
              return channel.seal(command(QStringLiteral("x")).encode());
          } },
        { "handshake again", [](SecureChannel&) { return QByteArray(R"({"challenge":"AAAA"})"); } },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server = End();
        listener.disconnect();
        RawPeer peer;
        SecureChannel channel(pairingKey, SecureChannel::Role::client);
        authenticatedRawPeer(peer, channel);
        peer.sendLine(channel.seal(command(QStringLiteral("fine")).encode()));
        peer.sendLine(c.line(channel));
        peer.sendLine(channel.seal(command(QStringLiteral("after")).encode()));
        ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
        ASSERT_EQ(server.packets.size(), 1);
        EXPECT_EQ(server.packets.first().command, QStringLiteral("fine"));
        EXPECT_TRUE(peer.waitClosedByPeer());
    }
}

TEST_F(LineConnectionTest, ReplayedRecordClosesTheConnection)
{
    RawPeer peer;
    SecureChannel channel(pairingKey, SecureChannel::Role::client);
    authenticatedRawPeer(peer, channel);
    const QByteArray record = channel.seal(command(QStringLiteral("once")).encode());
    peer.sendLine(record);
    peer.sendLine(record);
    ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
    EXPECT_EQ(server.packets.size(), 1);
}

TEST_F(LineConnectionTest, OverLongLineClosesTheConnection)
{
    RawPeer peer;
    SecureChannel channel(pairingKey, SecureChannel::Role::client);
    authenticatedRawPeer(peer, channel);
    // Never finished: the limit applies while the line is still arriving.
    const QByteArray piece(1024 * 1024, 'x');
    for (qsizetype sent = 0; sent <= LineConnection::maximumLine && peer.socket.state() == QAbstractSocket::ConnectedState;
         sent += piece.size()) {
        peer.socket.write(piece);
        waitUntil([&] { return peer.socket.bytesToWrite() == 0 || server.closed(); }, 2s);
    }
    ASSERT_TRUE(waitUntil([&] { return server.closed(); }));
    EXPECT_TRUE(server.reason.contains(QStringLiteral("too long")));
}

TEST_F(LineConnectionTest, SealedPacketThatDoesNotDecodeIsDroppedAndTheLinkStays)
{
    RawPeer peer;
    SecureChannel channel(pairingKey, SecureChannel::Role::client);
    authenticatedRawPeer(peer, channel);
    for (const QByteArray& bad : { QByteArray("not json"), QByteArray(R"({"command":7})"), QByteArray("[]"),
                                   QByteArray(R"({"face":{"mood":"grumpy"}})") })
        peer.sendLine(channel.seal(bad));
    peer.sendLine(channel.seal(command(QStringLiteral("good")).encode()));
    ASSERT_TRUE(waitUntil([&] { return !server.packets.isEmpty(); }));
    EXPECT_EQ(server.packets.size(), 1);
    EXPECT_EQ(server.packets.first().command, QStringLiteral("good"));
    EXPECT_FALSE(server.closed());
}

TEST_F(LineConnectionTest, OwnerMayLetGoOfTheConnectionInsideItsCallbacks)
{
    serve();
    connectClient();
    ASSERT_TRUE(waitUntil([&] { return server.authenticated; }));
    server.link->onPacket = [this](const Packet&) {
        server.link->close();
        server.link.release()->deleteLater();
    };
    client.link->send(command(QStringLiteral("a")));
    client.link->send(command(QStringLiteral("b")));
    EXPECT_TRUE(waitUntil([&] { return client.closed(); }));
}
