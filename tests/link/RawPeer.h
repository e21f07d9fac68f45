#pragma once

#include <QHostAddress>
#include <QTcpSocket>

#include <optional>

#include "shared/link/SecureChannel.h"
#include "shared/util/ByteLines.h"
#include "support/RunTask.h"

// A peer that speaks the link by hand over a plain socket, so a test can send what a well-behaved
// LineConnection never would.
class RawPeer {
public:
    bool connectTo(quint16 port, QHostAddress address = QHostAddress::LocalHost)
    {
        socket.connectToHost(address, port);
        return waitUntil([&] { return socket.state() == QAbstractSocket::ConnectedState; });
    }

    void sendLine(const QByteArray& line) { socket.write(line + '\n'); socket.flush(); }

    std::optional<QByteArray> nextLine(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        std::optional<QByteArray> line;
        waitUntil(
            [&] {
                // waitUntil asks once more after the loop: keep the line already taken.
                if (!line) {
                    lines.append(socket.readAll());
                    line = lines.next();
                }
                return line.has_value();
            },
            timeout);
        return line;
    }

    bool waitClosedByPeer(std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return waitUntil([&] { return socket.state() == QAbstractSocket::UnconnectedState; }, timeout);
    }

    // Runs the client side of the handshake with `channel` and reads the server's first record.
    bool authenticate(SecureChannel& channel)
    {
        sendLine(channel.opening());
        const auto challenge = nextLine();
        if (!challenge)
            return false;
        const auto step = channel.handshake(*challenge);
        if (step.error || !channel.isEstablished())
            return false;
        sendLine(step.reply);
        const auto paired = nextLine();
        return paired && channel.open(*paired);
    }

    QTcpSocket socket;
    ByteLines lines;
};
