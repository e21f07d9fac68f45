#include "shared/link/SecureChannel.h"

#include "shared/link/LinkCrypto.h"
#include "shared/util/Crypto.h"
#include "shared/util/Json.h"

#include <limits>
#include <stdexcept>

namespace {

constexpr int counterLength = 8;

QByteArray roleName(SecureChannel::Role role)
{
    return role == SecureChannel::Role::client ? QByteArrayLiteral("client") : QByteArrayLiteral("server");
}

QByteArray gcmNonce(std::uint64_t counter)
{
    QByteArray nonce(12, '\0');
    for (int i = 0; i < 8; ++i)
        nonce[11 - i] = static_cast<char>((counter >> (8 * i)) & 0xff);
    return nonce;
}

std::optional<QByteArray> strictBase64(const Json& value)
{
    if (!value.is_string())
        return std::nullopt;
    return linkcrypto::base64Decode(QByteArray::fromStdString(value.get_ref<const std::string&>()));
}

// The handshake's JSON object, or nullopt for anything else.
std::optional<Json> handshakeObject(const QByteArray& line)
{
    try {
        Json json = json::parse(line);
        if (json.is_object())
            return json;
    } catch (const JsonDecodeError&) {
    }
    return std::nullopt;
}

std::optional<QByteArray> field(const Json& object, const char* key, int length)
{
    const auto found = object.find(key);
    if (found == object.end())
        return std::nullopt;
    auto bytes = strictBase64(*found);
    if (!bytes || bytes->size() != length)
        return std::nullopt;
    return bytes;
}

QByteArray line(const Json& json)
{
    return json::dumpBytes(json);
}

} // namespace

SecureChannel::SecureChannel(const QByteArray& key, Role role)
    : m_key(key)
    , m_role(role)
    , m_stage(role == Role::client ? Stage::start : Stage::awaitingClient)
{
}

SecureChannel::~SecureChannel()
{
    linkcrypto::wipe(m_key);
    linkcrypto::wipe(m_sendKey);
    linkcrypto::wipe(m_receiveKey);
}

QByteArray SecureChannel::proof(const QByteArray& key, Role role, const QByteArray& clientNonce,
                                const QByteArray& serverNonce)
{
    // Fixed-length nonces and a NUL after each text keep the message unambiguous.
    QByteArray message = QByteArray(label) + '\0' + roleName(role) + '\0' + clientNonce + serverNonce;
    return linkcrypto::hmacSha256(key, message);
}

QByteArray SecureChannel::opening()
{
    if (m_role != Role::client || m_stage != Stage::start)
        throw std::logic_error("the opening line is the client's, once");
    m_clientNonce = crypto::randomBytes(nonceLength);
    m_stage = Stage::awaitingServer;
    Json json = Json::object();
    json["challenge"] = m_clientNonce.toBase64().toStdString();
    return line(json);
}

SecureChannel::Step SecureChannel::fail(const QString& reason)
{
    m_stage = Stage::failed;
    return Step { {}, reason };
}

SecureChannel::Step SecureChannel::handshake(const QByteArray& text)
{
    if (m_key.size() != 32)
        return fail(QStringLiteral("no usable key"));
    const auto object = handshakeObject(text);
    if (!object)
        return fail(QStringLiteral("handshake line is not a JSON object"));

    switch (m_stage) {
    case Stage::awaitingClient: {
        auto clientNonce = field(*object, "challenge", nonceLength);
        if (!clientNonce)
            return fail(QStringLiteral("malformed challenge"));
        m_clientNonce = *clientNonce;
        m_serverNonce = crypto::randomBytes(nonceLength);
        m_stage = Stage::awaitingProof;
        Json json = Json::object();
        json["challenge"] = m_serverNonce.toBase64().toStdString();
        json["proof"] = proof(m_key, Role::server, m_clientNonce, m_serverNonce).toBase64().toStdString();
        return Step { line(json), std::nullopt };
    }
    case Stage::awaitingServer: {
        auto serverNonce = field(*object, "challenge", nonceLength);
        auto serverProof = field(*object, "proof", 32);
        if (!serverNonce || !serverProof)
            return fail(QStringLiteral("malformed challenge"));
        m_serverNonce = *serverNonce;
        if (!linkcrypto::constantTimeEqual(*serverProof, proof(m_key, Role::server, m_clientNonce, m_serverNonce)))
            return fail(QStringLiteral("the peer's proof does not match our key"));
        establish();
        Json json = Json::object();
        json["proof"] = proof(m_key, Role::client, m_clientNonce, m_serverNonce).toBase64().toStdString();
        return Step { line(json), std::nullopt };
    }
    case Stage::awaitingProof: {
        auto clientProof = field(*object, "proof", 32);
        if (!clientProof)
            return fail(QStringLiteral("malformed proof"));
        if (!linkcrypto::constantTimeEqual(*clientProof, proof(m_key, Role::client, m_clientNonce, m_serverNonce)))
            return fail(QStringLiteral("the peer's proof does not match our key"));
        establish();
        return Step {};
    }
    case Stage::start:
    case Stage::established:
    case Stage::failed:
        break;
    }
    return fail(QStringLiteral("unexpected handshake line"));
}

void SecureChannel::establish()
{
    const QByteArray salt = m_clientNonce + m_serverNonce;
    const QByteArray fromClient = linkcrypto::hkdfSha256(m_key, salt, QByteArray(label) + " client to server", 32);
    const QByteArray fromServer = linkcrypto::hkdfSha256(m_key, salt, QByteArray(label) + " server to client", 32);
    m_sendKey = m_role == Role::client ? fromClient : fromServer;
    m_receiveKey = m_role == Role::client ? fromServer : fromClient;
    m_stage = Stage::established;
}

QByteArray SecureChannel::seal(const QByteArray& plaintext)
{
    if (m_stage != Stage::established)
        throw std::logic_error("sealing before the handshake");
    if (m_sent == std::numeric_limits<std::uint64_t>::max())
        throw std::runtime_error("record counter exhausted");
    const QByteArray nonce = gcmNonce(m_sent);
    const QByteArray record = nonce.right(counterLength) + linkcrypto::sealAesGcm(m_sendKey, nonce, plaintext);
    ++m_sent;
    return linkcrypto::base64Encode(record);
}

std::optional<QByteArray> SecureChannel::open(const QByteArray& text, QString* why)
{
    auto refuse = [why](const char* reason) -> std::optional<QByteArray> {
        if (why)
            *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (m_stage != Stage::established)
        return refuse("record before the handshake");
    const auto decoded = linkcrypto::base64Decode(text);
    if (!decoded || decoded->size() < counterLength + 16)
        return refuse("malformed record");
    const QByteArray& record = *decoded;
    std::uint64_t counter = 0;
    for (int i = 0; i < counterLength; ++i)
        counter = (counter << 8) | static_cast<unsigned char>(record[i]);
    if (counter != m_received)
        return refuse(counter < m_received ? "repeated record" : "record out of order");
    auto plaintext = linkcrypto::openAesGcm(m_receiveKey, gcmNonce(m_received), record.mid(counterLength));
    if (!plaintext)
        return refuse("record does not authenticate");
    ++m_received;
    return plaintext;
}
