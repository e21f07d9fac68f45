#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// The protocol state of one end of the phone link, without any socket: the challenge and proof
// handshake, then sealed records in both directions.
//
// Handshake, one JSON line each:
//   client: {"challenge": client nonce}
//   server: {"challenge": server nonce, "proof": HMAC(key, label, "server", both nonces)}
//   client: {"proof": HMAC(key, label, "client", both nonces)}
// Each side checks the other's proof before it is established. The session keys, one per direction,
// come from HKDF-SHA256 over the pairing key with both nonces as salt.
//
// A record is one line of base64: the 64-bit big-endian counter of its direction, then the AES-256-GCM
// ciphertext and tag sealed with that counter as nonce. The receiver expects the counter exactly. Not
// JSON, unlike the handshake: a record can carry megabytes of audio, and a JSON text reader would take
// several times as long as the cipher.
class SecureChannel {
public:
    enum class Role { client, server };

    static constexpr const char* label = "tovrick-pair-v1";
    static constexpr int nonceLength = 32;

    SecureChannel(const QByteArray& key, Role role);
    ~SecureChannel();
    SecureChannel(const SecureChannel&) = delete;
    SecureChannel& operator=(const SecureChannel&) = delete;

    Role role() const { return m_role; }
    bool isEstablished() const { return m_stage == Stage::established; }

    // The client's first line. Only once, only for the client.
    QByteArray opening();

    struct Step {
        // A line to send back, or empty.
        QByteArray reply;
        // Set when the handshake cannot go on; the connection must close.
        std::optional<QString> error;
    };
    // Feeds one handshake line from the peer.
    Step handshake(const QByteArray& line);

    // Seals a message as one record line (no newline). Established only. Throws std::runtime_error if
    // the counter is exhausted or OpenSSL fails.
    QByteArray seal(const QByteArray& plaintext);
    // Opens the next record line from the peer. nullopt, with the reason in `why`, when the line is not
    // the exact next record with a valid tag; the expected counter then stays where it was.
    std::optional<QByteArray> open(const QByteArray& line, QString* why = nullptr);

    std::uint64_t sentCount() const { return m_sent; }
    std::uint64_t receivedCount() const { return m_received; }

    static QByteArray proof(const QByteArray& key, Role role, const QByteArray& clientNonce,
                            const QByteArray& serverNonce);

private:
    enum class Stage { start, awaitingServer, awaitingClient, awaitingProof, established, failed };

    Step fail(const QString& reason);
    void establish();

    QByteArray m_key;
    Role m_role;
    Stage m_stage;
    QByteArray m_clientNonce;
    QByteArray m_serverNonce;
    QByteArray m_sendKey;
    QByteArray m_receiveKey;
    std::uint64_t m_sent = 0;
    std::uint64_t m_received = 0;
};
