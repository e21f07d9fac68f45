#include "shared/link/LineConnection.h"

#include <QTcpSocket>

#include "shared/util/Log.h"

namespace {

constexpr qint64 readChunk = 256 * 1024;

} // namespace

LineConnection::LineConnection(QTcpSocket* socket, const QByteArray& key, bool isServer, QObject* parent)
    : QObject(parent)
    , m_socket(socket)
    , m_channel(key, isServer ? SecureChannel::Role::server : SecureChannel::Role::client)
{
    m_handshakeTimer.setSingleShot(true);
    connect(&m_handshakeTimer, &QTimer::timeout, this, [this] {
        closeWith(QStringLiteral("the handshake did not finish within %1 s")
                      .arg(static_cast<double>(m_handshakeLimit.count()) / 1000.0));
    });
    m_lineTimer.setSingleShot(true);
    connect(&m_lineTimer, &QTimer::timeout, this, [this] {
        closeWith(QStringLiteral("a line did not arrive in full within %1 s")
                      .arg(static_cast<double>(m_lineLimit.count()) / 1000.0));
    });
    if (!m_socket)
        return;
    m_socket->setParent(this);
    // Qt would otherwise read whatever the peer sends into memory before we can look at it.
    m_socket->setReadBufferSize(readChunk);
}

LineConnection::~LineConnection()
{
    if (m_budget)
        m_budget->m_used -= m_charged;
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

QString LineConnection::peerName() const
{
    if (!m_peer.isEmpty() || !m_socket)
        return m_peer;
    return m_socket->peerAddress().toString() + QLatin1Char(':') + QString::number(m_socket->peerPort());
}

void LineConnection::start()
{
    if (m_started || m_closed)
        return;
    m_started = true;
    if (!m_socket) {
        closeWith(QStringLiteral("no socket"));
        return;
    }
    connect(m_socket, &QTcpSocket::readyRead, this, &LineConnection::readIncoming);
    connect(m_socket, &QTcpSocket::disconnected, this,
            [this] { closeWith(QStringLiteral("the peer closed the connection")); });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        closeWith(m_socket ? m_socket->errorString() : QStringLiteral("socket error"));
    });
    connect(m_socket, &QTcpSocket::connected, this, &LineConnection::begin);
    m_handshakeTimer.start(m_handshakeLimit);
    if (m_socket->state() == QAbstractSocket::ConnectedState)
        begin();
    else if (m_socket->state() == QAbstractSocket::UnconnectedState)
        // Let the owner finish wiring before it hears that this connection is already over.
        QTimer::singleShot(0, this, [this] { closeWith(QStringLiteral("the socket is not connected")); });
}

void LineConnection::begin()
{
    if (m_began || m_closed)
        return;
    m_began = true;
    m_peer = peerName();
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    m_socket->setSocketOption(QAbstractSocket::KeepAliveOption, 1);
    if (!isServer())
        writeLine(m_channel.opening());
    if (m_socket->bytesAvailable() > 0)
        readIncoming();
}

void LineConnection::send(const Packet& packet)
{
    if (!m_authenticated || m_closed)
        return;
    QByteArray plaintext;
    try {
        plaintext = packet.encode();
    } catch (const JsonEncodeError& error) {
        logline::warning(QStringLiteral("phone link: a packet was not sent: %1").arg(QString::fromUtf8(error.what())));
        return;
    }
    try {
        writeLine(m_channel.seal(plaintext));
    } catch (const std::exception& error) {
        closeWith(QString::fromUtf8(error.what()));
    }
}

void LineConnection::close()
{
    closeWith(QStringLiteral("closed by this end"), true);
}

void LineConnection::abandon()
{
    closeWith(QStringLiteral("dropped by this end"), false, false);
}

void LineConnection::writeLine(const QByteArray& line)
{
    if (m_closed || !m_socket)
        return;
    m_socket->write(line + '\n');
    if (m_socket->bytesToWrite() > maximumBacklog)
        closeWith(QStringLiteral("the peer is not reading"));
}

void LineConnection::readIncoming()
{
    QPointer<LineConnection> self(this);
    try {
        while (self && !m_closed && m_socket && m_socket->bytesAvailable() > 0) {
            m_lines.append(m_socket->read(readChunk));
            if (!charge()) {
                closeWith(QStringLiteral("the phones together are sending more than we hold at once"));
                return;
            }
            bool completed = false;
            while (auto line = m_lines.next()) {
                completed = true;
                if (!m_authenticated && line->size() > maximumHandshakeLine) {
                    closeWith(QStringLiteral("handshake line too long"));
                    return;
                }
                if (m_lines.overflowed()) {
                    closeWith(QStringLiteral("line too long"));
                    return;
                }
                if (!handleLine(*line) || !self || m_closed)
                    return;
            }
            if (m_lines.overflowed() || (!m_authenticated && m_lines.pending() > maximumHandshakeLine)) {
                closeWith(QStringLiteral("line too long"));
                return;
            }
            charge();
            timeLine(completed);
        }
    } catch (const std::exception& error) {
        if (self)
            closeWith(QString::fromUtf8(error.what()));
    }
}

// False when the connection closed or its owner let go of it.
bool LineConnection::handleLine(const QByteArray& line)
{
    QPointer<LineConnection> self(this);
    if (!m_channel.isEstablished()) {
        const SecureChannel::Step step = m_channel.handshake(line);
        if (step.error) {
            closeWith(*step.error);
            return false;
        }
        if (!step.reply.isEmpty())
            writeLine(step.reply);
        if (m_closed || !m_channel.isEstablished())
            return !m_closed;
        m_authenticated = true;
        m_handshakeTimer.stop();
        logline::info(QStringLiteral("phone link: authenticated with %1").arg(m_peer));
        if (isServer()) {
            Packet paired;
            paired.hello = QStringLiteral("paired");
            send(paired);
        }
        if (auto callback = onAuthenticated)
            callback();
        return self && !m_closed;
    }

    QString why;
    const auto plaintext = m_channel.open(line, &why);
    if (!plaintext) {
        closeWith(why);
        return false;
    }
    Packet packet;
    try {
        packet = Packet::decode(*plaintext);
    } catch (const JsonDecodeError& error) {
        logline::warning(QStringLiteral("phone link: dropped a packet from %1: %2")
                             .arg(m_peer, QString::fromUtf8(error.what())));
        return true;
    }
    if (auto callback = onPacket) {
        try {
            callback(packet);
        } catch (const std::exception& error) {
            logline::warning(QStringLiteral("phone link: a packet handler failed: %1").arg(QString::fromUtf8(error.what())));
        }
    }
    return self && !m_closed;
}

bool LineConnection::charge()
{
    const qint64 held = m_lines.held();
    if (!m_budget) {
        m_charged = held;
        return true;
    }
    m_budget->m_used += held - m_charged;
    m_charged = held;
    return held == 0 || m_budget->m_used <= m_budget->m_limit;
}

// The handshake has a time limit of its own; after it, the clock runs from the end of the last whole
// line for as long as part of the next one waits.
void LineConnection::timeLine(bool lineCompleted)
{
    if (!m_authenticated || m_closed || m_lines.pending() == 0) {
        m_lineTimer.stop();
        return;
    }
    if (lineCompleted || !m_lineTimer.isActive())
        m_lineTimer.start(m_lineLimit);
}

void LineConnection::closeWith(const QString& reason, bool flush, bool logged)
{
    if (m_closed)
        return;
    m_closed = true;
    m_handshakeTimer.stop();
    m_lineTimer.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        if (flush)
            m_socket->disconnectFromHost();
        else
            m_socket->abort();
    }
    m_lines.clear();
    charge();
    if (logged)
        logline::info(QStringLiteral("phone link: closed %1: %2").arg(m_peer.isEmpty() ? peerName() : m_peer, reason));
    if (auto callback = onClosed)
        callback(reason);
}
