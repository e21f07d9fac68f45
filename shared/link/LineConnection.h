#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

#include "shared/link/Packet.h"
#include "shared/link/SecureChannel.h"
#include "shared/util/ByteLines.h"

class QTcpSocket;

// One end of the phone link over a TCP socket: newline-framed lines, the challenge and proof handshake
// within a time limit, then sealed packets. Anything the peer gets wrong (a malformed or over-long line,
// a record that is repeated, reordered or tampered with, a wrong key, silence during the handshake)
// closes the connection; a well-sealed packet that does not decode is dropped.
//
// Callbacks run on the main thread. An owner that wants to get rid of the connection inside a callback
// calls deleteLater(), never delete.
class LineConnection : public QObject {
    Q_OBJECT

public:
    // A record carries a packet whose base64 audio may be a minute-long meeting-note chunk (about 1 MB of
    // m4a, under 2 MB once encoded twice); 16 MiB leaves ample room and still bounds what a peer can make
    // us hold.
    static constexpr qsizetype maximumLine = 16 * 1024 * 1024;
    // Handshake lines are about 150 bytes; before authentication nobody gets to make us buffer more.
    static constexpr qsizetype maximumHandshakeLine = 1024;
    // What we hold for a peer that does not read before we give up on it.
    static constexpr qint64 maximumBacklog = 64 * 1024 * 1024;
    static constexpr std::chrono::milliseconds defaultHandshakeLimit { 8000 };

    // Takes ownership of the socket, which may be connected or still connecting. `key` is the 32-byte
    // pairing key.
    LineConnection(QTcpSocket* socket, const QByteArray& key, bool isServer, QObject* parent = nullptr);
    ~LineConnection() override;

    // Before start(); tests shorten it.
    void setHandshakeLimit(std::chrono::milliseconds limit) { m_handshakeLimit = limit; }

    // Starts the handshake (once the socket is connected) and the time limit.
    void start();
    // Seals and sends one packet; does nothing before authentication or after closing.
    void send(const Packet& packet);
    // Closes from this end; onClosed still reports it.
    void close();

    bool isServer() const { return m_channel.role() == SecureChannel::Role::server; }
    bool isAuthenticated() const { return m_authenticated; }
    bool isClosed() const { return m_closed; }
    QString peerName() const;

    std::function<void()> onAuthenticated;
    std::function<void(const Packet&)> onPacket;
    // Once, with the reason, whichever end closed.
    std::function<void(const QString& reason)> onClosed;

private:
    void begin();
    void readIncoming();
    bool handleLine(const QByteArray& line);
    void writeLine(const QByteArray& line);
    void closeWith(const QString& reason, bool flush = false);

    // A child of this object, so it lives exactly as long.
    QTcpSocket* m_socket;
    SecureChannel m_channel;
    ByteLines m_lines { maximumLine };
    QTimer m_handshakeTimer;
    std::chrono::milliseconds m_handshakeLimit = defaultHandshakeLimit;
    QString m_peer;
    bool m_started = false;
    bool m_began = false;
    bool m_authenticated = false;
    bool m_closed = false;
};
