#include "Tovrick/phone/PhoneServer.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>

#include "shared/account/DeviceVault.h"
#include "shared/link/FennowService.h"
#include "shared/util/Crypto.h"
#include "shared/util/Log.h"

namespace {

std::chrono::milliseconds monotonicNow()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return std::chrono::milliseconds(clock.elapsed());
}

QString machineName()
{
    const QString name = QHostInfo::localHostName();
    return name.isEmpty() ? QStringLiteral("Tovrick") : name;
}

} // namespace

PhoneServer::PhoneServer(QObject* parent)
    : QObject(parent)
    , m_serviceName(machineName())
    , m_now(monotonicNow)
{
}

PhoneServer::~PhoneServer()
{
    // Connections must not call back into a half-destroyed server.
    for (auto& phone : m_phones)
        if (phone->link) {
            phone->link->onClosed = nullptr;
            phone->link->onPacket = nullptr;
            phone->link->onAuthenticated = nullptr;
        }
}

PairingRecord PhoneServer::pairingRecord()
{
    const QString item = QString::fromLatin1(vaultItem::macTransport);
    DeviceVault& vault = DeviceVault::shared();
    const VaultRead stored = vault.read(item);
    if (stored.isFailed()) {
        // The key may well be there: a new one would cut off every paired phone. No key this time.
        logline::warning(QStringLiteral("the phone-link key could not be read from the %1; not replacing it").arg(vault.kind()));
        PairingRecord record;
        record.service = machineName();
        return record;
    }
    std::optional<QByteArray> key = stored.found();
    if (key && key->size() != PairingRecord::keyLength) {
        // No phone can hold a key of another length, so replacing it cuts off nobody.
        logline::warning(QStringLiteral("the phone-link key in the vault is unusable; making a new one"));
        key.reset();
    }
    if (!key) {
        QByteArray fresh = crypto::randomBytes(PairingRecord::keyLength);
        if (!vault.write(item, fresh)) {
            logline::warning(QStringLiteral("the phone-link key could not be stored in the %1").arg(vault.kind()));
            PairingRecord record;
            record.service = machineName();
            return record;
        }
        key = fresh;
    }
    return PairingRecord::withKey(machineName(), *key);
}

bool PhoneServer::start(quint16 port)
{
    if (m_server)
        return true;
    const PairingRecord record = pairingRecord();
    const auto key = record.key();
    const auto identifier = record.identifier();
    if (!key || !identifier) {
        logline::warning(QStringLiteral("phone listener not started: no phone-link key"));
        return false;
    }
    m_key = *key;
    m_server = new QTcpServer(this);
    // Room for a burst of connections, so a phone's arrives even while a flood is being turned away.
    m_server->setListenBacklogSize(SOMAXCONN);
    m_server->setMaxPendingConnections(acceptsPerPass);
    if (!m_server->listen(QHostAddress::Any, port)) {
        logline::warning(QStringLiteral("phone listener not started: %1").arg(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QTcpServer::newConnection, this, &PhoneServer::queueAccept);
    connect(m_server, &QTcpServer::acceptError, this, &PhoneServer::acceptFailed);
    logline::info(QStringLiteral("phone listener on port %1").arg(m_server->serverPort()));
    const ServicePublisher::TxtRecord txt { { QByteArray(FennowService::identifierKey), identifier->toLatin1() } };
    if (!m_publisher.publish(m_serviceName, FennowService::serviceType, m_server->serverPort(), txt))
        logline::info(QStringLiteral("phone link is not advertised: %1").arg(m_publisher.error()));
    return true;
}

void PhoneServer::stop()
{
    m_publisher.withdraw();
    const bool hadPhones = phoneCount() > 0;
    auto phones = std::move(m_phones);
    m_phones.clear();
    for (auto& phone : phones)
        if (phone->link) {
            phone->link->onClosed = nullptr;
            phone->link->close();
            phone->link->deleteLater();
        }
    delete m_server;
    m_server = nullptr;
    if (hadPhones)
        if (auto callback = onDisconnect)
            callback();
}

bool PhoneServer::isListening() const
{
    return m_server && m_server->isListening();
}

quint16 PhoneServer::port() const
{
    return m_server ? m_server->serverPort() : 0;
}

bool PhoneServer::isAdvertised() const
{
    return m_publisher.isPublished();
}

QString PhoneServer::serviceName() const
{
    return m_publisher.name().isEmpty() ? m_serviceName : m_publisher.name();
}

int PhoneServer::phoneCount() const
{
    return static_cast<int>(std::count_if(m_phones.begin(), m_phones.end(), [](const auto& phone) {
        return phone->link && phone->link->isAuthenticated() && !phone->link->isClosed();
    }));
}

// Qt accepts until its queue holds acceptsPerPass connections and then waits for us to take them; taking
// them in a later pass lets everything else that is waiting run first.
void PhoneServer::queueAccept()
{
    if (m_acceptQueued)
        return;
    m_acceptQueued = true;
    QTimer::singleShot(0, this, &PhoneServer::accept);
}

void PhoneServer::accept()
{
    m_acceptQueued = false;
    if (!m_server)
        return;
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        dropOldestHandshake(maximumPendingHandshakes - 1);
        auto* link = new LineConnection(socket, m_key, true, this);
        link->setHandshakeLimit(m_handshakeLimit);
        link->setLineLimit(m_lineLimit);
        link->setLineBudget(m_lineBudget);
        auto phone = std::make_shared<Phone>();
        phone->link = link;
        m_phones.push_back(std::move(phone));
        link->onPacket = [this, link](const Packet& packet) {
            if (!packet.command)
                return;
            QPointer<LineConnection> target(link);
            Reply reply = [target](const Packet& answer) {
                if (target)
                    target->send(answer);
            };
            if (auto callback = onRequest)
                callback(packet, std::move(reply));
        };
        link->onClosed = [this, link](const QString&) { closed(link); };
        // The face is sent only when it changes: one still since before would never reach this phone.
        link->onAuthenticated = [this, weak = std::weak_ptr<Phone>(m_phones.back())] {
            const std::shared_ptr<Phone> paired = weak.lock();
            if (!paired || !paired->link || !m_latestFace)
                return;
            Packet packet;
            packet.face = m_latestFace;
            paired->link->send(packet);
            paired->lastFace = m_latestFace;
            paired->lastFaceAt = m_now();
        };
        link->start();
    }
}

// Makes room for one more connection in its handshake. `m_phones` is in the order they came.
void PhoneServer::dropOldestHandshake(int keep)
{
    int pending = 0;
    LineConnection* oldest = nullptr;
    for (const auto& phone : m_phones)
        if (phone->link && !phone->link->isAuthenticated() && !phone->link->isClosed()) {
            if (!oldest)
                oldest = phone->link;
            ++pending;
        }
    if (pending <= keep || !oldest)
        return;
    // A flood drops thousands a second: the log hears of the first and then of every thousandth.
    if (m_droppedHandshakes++ % 1000 == 0)
        logline::warning(QStringLiteral("phone listener: %1 connections dropped unfinished to make room for newer ones")
                             .arg(m_droppedHandshakes));
    oldest->abandon();
}

// Out of descriptors, most likely. The listening socket stays readable, so accepting again at once would
// spin: rest a moment. Handshakes under way carry on meanwhile.
void PhoneServer::acceptFailed()
{
    if (!m_server || m_acceptPaused)
        return;
    logline::warning(QStringLiteral("phone listener could not accept a connection: %1").arg(m_server->errorString()));
    m_acceptPaused = true;
    m_server->pauseAccepting();
    QPointer<QTcpServer> server(m_server);
    QTimer::singleShot(acceptPause, this, [this, server] {
        m_acceptPaused = false;
        if (server && server == m_server)
            resumeAccepting();
    });
}

void PhoneServer::resumeAccepting()
{
    // Qt's socket engine keeps the first error it met and reports it again for every later "try again"
    // at the end of a batch, which would pause the listener after each one. A fresh engine over the same
    // listening socket starts clean, and keeps the connections already waiting.
    const int copy = ::fcntl(static_cast<int>(m_server->socketDescriptor()), F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
        m_server->resumeAccepting();
        return;
    }
    accept();
    m_server->close();
    if (!m_server->setSocketDescriptor(copy)) {
        ::close(copy);
        logline::warning(QStringLiteral("phone listener stopped: %1").arg(m_server->errorString()));
    }
}

void PhoneServer::closed(LineConnection* link)
{
    const auto found = std::find_if(m_phones.begin(), m_phones.end(),
                                    [link](const auto& phone) { return phone->link == link; });
    if (found == m_phones.end())
        return;
    const bool wasPhone = link->isAuthenticated();
    m_phones.erase(found);
    link->deleteLater();
    if (wasPhone && phoneCount() == 0)
        if (auto callback = onDisconnect)
            callback();
}

void PhoneServer::broadcast(const Packet& packet)
{
    const auto phones = m_phones;
    for (const auto& phone : phones)
        if (phone->link && phone->link->isAuthenticated())
            phone->link->send(packet);
}

bool PhoneServer::faceWorthSending(const Phone& phone, const FaceState& face, std::chrono::milliseconds now) const
{
    if (!phone.lastFace || now - phone.lastFaceAt >= faceInterval)
        return true;
    const FaceState& last = *phone.lastFace;
    return face.mood != last.mood || std::abs(face.gazeX - last.gazeX) > gazeThreshold
        || std::abs(face.gazeY - last.gazeY) > gazeThreshold || std::abs(face.talk - last.talk) > talkThreshold;
}

void PhoneServer::sendFace(const FaceState& face, bool atRest)
{
    m_latestFace = face;
    const auto now = m_now();
    Packet packet;
    packet.face = face;
    const auto phones = m_phones;
    for (const auto& phone : phones) {
        if (!phone->link || !phone->link->isAuthenticated())
            continue;
        if (!faceWorthSending(*phone, face, now) && !(atRest && phone->lastFace != face))
            continue;
        phone->link->send(packet);
        phone->lastFace = face;
        phone->lastFaceAt = now;
    }
}
