#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <memory>

#include "shared/link/LineConnection.h"
#include "shared/link/Packet.h"
#include "shared/link/SecureChannel.h"
#include "support/RunTask.h"

inline Packet command(const QString& name, const QString& callID = {})
{
    Packet packet;
    packet.command = name;
    if (!callID.isEmpty())
        packet.callID = callID;
    return packet;
}

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

    // Becomes the client end of a link to `port`, as a phone would.
    void connectTo(quint16 port, const QByteArray& key, const QHostAddress& address = QHostAddress::LocalHost)
    {
        auto* socket = new QTcpSocket;
        socket->connectToHost(address, port);
        attach(new LineConnection(socket, key, false));
        link->start();
    }

    bool closed() const { return closes > 0; }
    template <typename Which>
    int count(Which which) const
    {
        return static_cast<int>(std::count_if(packets.begin(), packets.end(), which));
    }
    bool received(const QString& hello) const
    {
        return count([&](const Packet& p) { return p.hello == hello; }) > 0;
    }
};

// A peer that speaks the link by hand over a plain socket, so a test can send what a well-behaved
// LineConnection never would.
struct RawPeer {
    QTcpSocket socket;

    explicit RawPeer(quint16 port)
    {
        socket.connectToHost(QHostAddress::LocalHost, port);
        EXPECT_TRUE(waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; }));
    }

    void sendLine(const QByteArray& line) { socket.write(line + '\n'); }

    bool waitClosedByPeer()
    {
        return waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; });
    }

    // Runs the client side of the handshake and reads the server's first record.
    bool authenticate(SecureChannel& channel)
    {
        const auto nextLine = [&] { return waitUntil([&] { return socket.canReadLine(); }); };
        sendLine(channel.opening());
        if (!nextLine())
            return false;
        const auto step = channel.handshake(socket.readLine().chopped(1));
        if (step.error)
            return false;
        sendLine(step.reply);
        return nextLine() && channel.open(socket.readLine().chopped(1));
    }
};
