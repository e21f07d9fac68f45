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

// What a group of connections may hold, together, of lines still arriving. Shared by the connections
// and whoever made them, so it outlives both.
class LineBudget {
public:
    explicit LineBudget(qint64 limit) : m_limit(limit) {}
    qint64 limit() const { return m_limit; }
    qint64 used() const { return m_used; }

private:
    friend class LineConnection;
    qint64 m_limit;
    qint64 m_used = 0;
};

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
    // After the handshake, how long one line may take to arrive in full. The largest line, 16 MiB, needs
    // 13 s at 10 Mbit/s; a peer that starts a line and stalls must not hold it for as long as it stays.
    static constexpr std::chrono::milliseconds defaultLineLimit { 30000 };

    // Takes ownership of the socket, which may be connected or still connecting. `key` is the 32-byte
    // pairing key.
    LineConnection(QTcpSocket* socket, const QByteArray& key, bool isServer, QObject* parent = nullptr);
    ~LineConnection() override;

    // Before start(); tests shorten it.
    void setHandshakeLimit(std::chrono::milliseconds limit) { m_handshakeLimit = limit; }
    void setLineLimit(std::chrono::milliseconds limit) { m_lineLimit = limit; }
    // Before start(): the budget this connection's unfinished lines count against. A line that would
    // take the group past it closes this connection.
    void setLineBudget(std::shared_ptr<LineBudget> budget) { m_budget = std::move(budget); }

    // Starts the handshake (once the socket is connected) and the time limit.
    void start();
    // Seals and sends one packet; does nothing before authentication or after closing.
    void send(const Packet& packet);
    // Closes from this end; onClosed still reports it.
    void close();
    // Closes at once and leaves it out of the log, for an owner that drops connections by the thousand.
    void abandon();

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
    void closeWith(const QString& reason, bool flush = false, bool logged = true);
    // Brings the budget up to what the line buffer holds now; false when that is over the budget.
    bool charge();
    void timeLine(bool lineCompleted);

    // A child of this object, so it lives exactly as long.
    QTcpSocket* m_socket;
    SecureChannel m_channel;
    ByteLines m_lines { maximumLine };
    QTimer m_handshakeTimer;
    std::chrono::milliseconds m_handshakeLimit = defaultHandshakeLimit;
    QTimer m_lineTimer;
    std::chrono::milliseconds m_lineLimit = defaultLineLimit;
    std::shared_ptr<LineBudget> m_budget;
    qint64 m_charged = 0;
    QString m_peer;
    bool m_started = false;
    bool m_began = false;
    bool m_authenticated = false;
    bool m_closed = false;
};
