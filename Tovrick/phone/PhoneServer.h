#pragma once

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Tovrick/phone/ServicePublisher.h"
#include "shared/link/FaceState.h"
#include "shared/link/LineConnection.h"
#include "shared/link/Packet.h"
#include "shared/link/PairingRecord.h"

class QTcpServer;

// The desktop's phone listener: accepts phone links on a TCP port, advertises them on the local network,
// hands each phone request to its owner with a way to answer that phone, and mirrors the character's
// face to every paired phone. Each phone has a connection and state of its own; one that misbehaves
// loses its connection and nobody else notices.
class PhoneServer : public QObject {
    Q_OBJECT

public:
    using Reply = std::function<void(const Packet&)>;

    // A face is sent again within this time only when it changed by more than these amounts (or the
    // mood changed).
    static constexpr std::chrono::milliseconds faceInterval { 1000 };
    static constexpr double gazeThreshold = 0.02;
    static constexpr double talkThreshold = 0.05;
    // Connections still in their handshake. A real phone needs one for a few milliseconds; beyond this
    // many the oldest is dropped, so a flood can neither take every descriptor nor shut out a phone.
    static constexpr int maximumPendingHandshakes = 128;
    // Connections taken from the listener in one pass of the event loop: with a crowd that reconnects at
    // once, taking them all would never give a phone's own lines a turn.
    static constexpr int acceptsPerPass = 32;
    // How long the listener rests after the system refused it a connection (no descriptor left).
    static constexpr std::chrono::milliseconds acceptPause { 100 };
    // What all phones together may hold of lines still arriving: room for a few of the largest.
    static constexpr qint64 maximumBufferedLines = 64 * 1024 * 1024;

    explicit PhoneServer(QObject* parent = nullptr);
    ~PhoneServer() override;

    // This machine's record: its name and the "mac-transport" vault key, made and stored when missing.
    // Its key is absent when the vault could not be read (the stored key is then left alone, and the
    // listener does not start) or no key could be stored.
    static PairingRecord pairingRecord();

    // Listens on the port (0 picks one) and advertises it. False, logged, when there is no key or the
    // port cannot be opened. Without an Avahi daemon it still listens.
    bool start(quint16 port = 0);
    void stop();
    bool isListening() const;
    quint16 port() const;
    bool isAdvertised() const;
    QString serviceName() const;

    // Sends to every authenticated phone.
    void broadcast(const Packet& packet);
    // Sends the face to each phone unless less than faceInterval passed since that phone's last face and
    // it barely changed. A face `atRest` stays as it is until the next one: each phone whose last face
    // differs gets it. A phone that pairs later gets the latest face at once.
    void sendFace(const FaceState& face, bool atRest = false);
    int phoneCount() const;

    // A packet with a `command` from an authenticated phone, and the function that answers that phone.
    std::function<void(const Packet& request, Reply reply)> onRequest;
    // The last authenticated phone went away.
    std::function<void()> onDisconnect;

    // Seams for tests.
    void setHandshakeLimit(std::chrono::milliseconds limit) { m_handshakeLimit = limit; }
    void setLineLimit(std::chrono::milliseconds limit) { m_lineLimit = limit; }
    void setBufferedLinesLimit(qint64 bytes) { m_lineBudget = std::make_shared<LineBudget>(bytes); }
    void setClock(std::function<std::chrono::milliseconds()> now) { m_now = std::move(now); }
    void setServiceName(const QString& name) { m_serviceName = name; }

private:
    struct Phone {
        QPointer<LineConnection> link;
        std::optional<FaceState> lastFace;
        std::chrono::milliseconds lastFaceAt { 0 };
    };

    void queueAccept();
    void accept();
    void acceptFailed();
    void resumeAccepting();
    // Closes the oldest connection still in its handshake when more than `keep` are.
    void dropOldestHandshake(int keep);
    void closed(LineConnection* link);
    bool faceWorthSending(const Phone& phone, const FaceState& face, std::chrono::milliseconds now) const;

    QTcpServer* m_server = nullptr;
    ServicePublisher m_publisher;
    // Shared so that a loop over the phones survives one of them closing while it is sent to.
    std::vector<std::shared_ptr<Phone>> m_phones;
    QByteArray m_key;
    QString m_serviceName;
    std::chrono::milliseconds m_handshakeLimit = LineConnection::defaultHandshakeLimit;
    std::chrono::milliseconds m_lineLimit = LineConnection::defaultLineLimit;
    std::shared_ptr<LineBudget> m_lineBudget = std::make_shared<LineBudget>(maximumBufferedLines);
    bool m_acceptPaused = false;
    bool m_acceptQueued = false;
    quint64 m_droppedHandshakes = 0;
    std::function<std::chrono::milliseconds()> m_now;
    std::optional<FaceState> m_latestFace;
};
