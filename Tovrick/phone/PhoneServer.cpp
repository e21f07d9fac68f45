#include "Tovrick/phone/PhoneServer.h"

#include <QElapsedTimer>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>

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
    if (!m_server->listen(QHostAddress::Any, port)) {
        logline::warning(QStringLiteral("phone listener not started: %1").arg(m_server->errorString()));
        delete m_server;
        m_server = nullptr;
        return false;
    }
    connect(m_server, &QTcpServer::newConnection, this, &PhoneServer::accept);
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

void PhoneServer::accept()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection()) {
        auto* link = new LineConnection(socket, m_key, true, this);
        link->setHandshakeLimit(m_handshakeLimit);
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
        link->start();
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

void PhoneServer::sendFace(const FaceState& face)
{
    const auto now = m_now();
    Packet packet;
    packet.face = face;
    const auto phones = m_phones;
    for (const auto& phone : phones) {
        if (!phone->link || !phone->link->isAuthenticated() || !faceWorthSending(*phone, face, now))
            continue;
        phone->link->send(packet);
        phone->lastFace = face;
        phone->lastFaceAt = now;
    }
}
