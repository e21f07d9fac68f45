#pragma once

#include <QCoreApplication>
#include <QHostAddress>
#include <QTcpSocket>

#include <algorithm>
#include <functional>
#include <memory>

#include "shared/link/LineConnection.h"

// A phone: a client LineConnection and what reached it.
struct SimPhone {
    std::unique_ptr<LineConnection> link;
    QList<Packet> packets;
    bool authenticated = false;
    bool closed = false;

    SimPhone(quint16 port, const QByteArray& key, const QHostAddress& address = QHostAddress::LocalHost)
    {
        auto* socket = new QTcpSocket;
        socket->connectToHost(address, port);
        link = std::make_unique<LineConnection>(socket, key, false);
        link->setHandshakeLimit(std::chrono::seconds(2));
        link->onAuthenticated = [this] { authenticated = true; };
        link->onPacket = [this](const Packet& packet) { packets.append(packet); };
        link->onClosed = [this](const QString&) { closed = true; };
        link->start();
    }

    int count(const std::function<bool(const Packet&)>& which) const
    {
        return static_cast<int>(std::count_if(packets.begin(), packets.end(), which));
    }
    bool received(const QString& hello) const
    {
        return count([&](const Packet& p) { return p.hello == hello; }) > 0;
    }
};

inline QString uniqueServiceName()
{
    static int counter = 0;
    return QStringLiteral("tovrick-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}
