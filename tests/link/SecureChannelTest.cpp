#include <gtest/gtest.h>

#include "shared/link/LinkCrypto.h"
#include "shared/link/SecureChannel.h"
#include "shared/util/Json.h"

namespace {

const QByteArray pairingKey(32, '\x2a');

// A client and a server channel that have completed the handshake with each other.
struct Pair {
    SecureChannel client { pairingKey, SecureChannel::Role::client };
    SecureChannel server { pairingKey, SecureChannel::Role::server };

    Pair()
    {
        const auto challenge = server.handshake(client.opening());
        const auto proof = client.handshake(challenge.reply);
        const auto done = server.handshake(proof.reply);
        EXPECT_FALSE(challenge.error || proof.error || done.error);
    }
};

// The record line with its counter replaced.
QByteArray withCounter(const QByteArray& record, std::uint64_t counter)
{
    QByteArray bytes = *linkcrypto::base64Decode(record);
    for (int i = 0; i < 8; ++i)
        bytes[7 - i] = static_cast<char>((counter >> (8 * i)) & 0xff);
    return linkcrypto::base64Encode(bytes);
}

// The record line with one byte of its ciphertext or tag changed.
QByteArray tampered(const QByteArray& record, qsizetype at)
{
    QByteArray bytes = *linkcrypto::base64Decode(record);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    return linkcrypto::base64Encode(bytes);
}

} // namespace

TEST(LinkCrypto, KnownAnswers)
{
    // HMAC-SHA256, RFC 4231 test case 2.
    EXPECT_EQ(linkcrypto::hmacSha256("Jefe", "what do ya want for nothing?").toHex(),
              "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843");
    // HKDF-SHA256, RFC 5869 test case 1.
    EXPECT_EQ(linkcrypto::hkdfSha256(QByteArray(22, '\x0b'), QByteArray::fromHex("000102030405060708090a0b0c"),
                                     QByteArray::fromHex("f0f1f2f3f4f5f6f7f8f9"), 42)
                  .toHex(),
              "3cb25f25faacd57a90434f64d0362f2a2d2d0a90cf1a5a4c5db02d56ecc4c5bf34007208d5b887185865");
    // AES-256-GCM, the zero key and nonce over 16 zero bytes (McGrew and Viega, test case 14).
    EXPECT_EQ(linkcrypto::sealAesGcm(QByteArray(32, '\0'), QByteArray(12, '\0'), QByteArray(16, '\0')).toHex(),
              "cea7403d4d606b6e074ec5d3baf39d18d0d1c8a799996bf0265b98b5d48ab919");
}

TEST(LinkCrypto, SealedBytesOpenOnlyUnchanged)
{
    const QByteArray key(32, 'k'), nonce(12, 'n');
    const QByteArray sealed = linkcrypto::sealAesGcm(key, nonce, "hello");
    EXPECT_EQ(linkcrypto::openAesGcm(key, nonce, sealed), QByteArray("hello"));
    EXPECT_EQ(linkcrypto::openAesGcm(key, nonce, linkcrypto::sealAesGcm(key, nonce, {})), QByteArray());
    for (int i = 0; i < sealed.size(); ++i) {
        QByteArray tampered = sealed;
        tampered[i] = static_cast<char>(tampered[i] ^ 1);
        EXPECT_FALSE(linkcrypto::openAesGcm(key, nonce, tampered)) << "byte " << i;
    }
    EXPECT_FALSE(linkcrypto::openAesGcm(key, QByteArray(12, 'm'), sealed));
    EXPECT_FALSE(linkcrypto::openAesGcm(key, nonce, sealed.left(15)));
    EXPECT_TRUE(linkcrypto::constantTimeEqual("abc", "abc"));
    EXPECT_FALSE(linkcrypto::constantTimeEqual("abc", "abd"));
    EXPECT_FALSE(linkcrypto::constantTimeEqual("abc", "abcd"));
}

TEST(SecureChannel, HandshakeEstablishesBothEndsAndRecordsFlowEachWay)
{
    Pair pair;
    ASSERT_TRUE(pair.client.isEstablished());
    ASSERT_TRUE(pair.server.isEstablished());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(pair.server.open(pair.client.seal("up " + QByteArray::number(i))), "up " + QByteArray::number(i));
        EXPECT_EQ(pair.client.open(pair.server.seal("down")), QByteArray("down"));
    }
    // Each direction has its own key: a record does not open as if it came the other way.
    const QByteArray up = pair.client.seal("mine");
    EXPECT_FALSE(pair.client.open(withCounter(up, pair.client.receivedCount())));
}

TEST(SecureChannel, AWrongKeyFailsTheProofOnBothSides)
{
    SecureChannel client(pairingKey, SecureChannel::Role::client);
    SecureChannel server(QByteArray(32, 'x'), SecureChannel::Role::server);
    const auto challenge = server.handshake(client.opening());
    const auto proof = client.handshake(challenge.reply);
    EXPECT_TRUE(proof.error);
    EXPECT_FALSE(client.isEstablished());

    // A client that ignores the failed check and answers anyway is refused by the server.
    SecureChannel liar(QByteArray(32, 'x'), SecureChannel::Role::client);
    SecureChannel honest(pairingKey, SecureChannel::Role::server);
    const auto second = honest.handshake(liar.opening());
    Json forged = Json::object();
    forged["proof"] = SecureChannel::proof(QByteArray(32, 'x'), SecureChannel::Role::client, {}, {}).toBase64().toStdString();
    EXPECT_TRUE(honest.handshake(json::dumpBytes(forged)).error);
    EXPECT_FALSE(honest.isEstablished());
    EXPECT_TRUE(second.reply.contains("proof"));
}

TEST(SecureChannel, ServerProofCannotBeReflectedAsTheClients)
{
    SecureChannel client(pairingKey, SecureChannel::Role::client);
    SecureChannel server(pairingKey, SecureChannel::Role::server);
    const auto challenge = server.handshake(client.opening());
    const Json sent = json::parse(challenge.reply);
    Json reflected = Json::object();
    reflected["proof"] = sent["proof"];
    EXPECT_TRUE(server.handshake(json::dumpBytes(reflected)).error);
}

TEST(SecureChannel, MalformedHandshakeLinesFail)
{
    const char* lines[] = {
        "", "garbage", "[]", R"({"challenge":5})", R"({"challenge":"AAAA"})", R"({"challenge":"!!!!"})",
        R"({"proof":"AAAA"})",
    };
    for (const char* line : lines) {
        SecureChannel server(pairingKey, SecureChannel::Role::server);
        EXPECT_TRUE(server.handshake(line).error) << line;
        EXPECT_FALSE(server.isEstablished());
    }
    SecureChannel client(pairingKey, SecureChannel::Role::client);
    client.opening();
    EXPECT_TRUE(client.handshake(R"({"challenge":"AAAA","proof":"AAAA"})").error);
    SecureChannel keyless(QByteArray(31, 'k'), SecureChannel::Role::server);
    SecureChannel other(QByteArray(31, 'k'), SecureChannel::Role::client);
    EXPECT_TRUE(keyless.handshake(other.opening()).error);
}

TEST(SecureChannel, BadRecordsAreRefusedWithoutMovingTheCounter)
{
    Pair pair;
    const QByteArray first = pair.client.seal("first");
    const QByteArray second = pair.client.seal("second");

    struct Case {
        const char* name;
        QByteArray line;
    };
    const Case refused[] = {
        { "ciphertext changed", tampered(first, 8) },
        { "tag changed", tampered(first, 8 + 5 + 15) },
        { "counter changed", tampered(first, 7) },
        { "out of order", second },
        { "claims the expected counter", withCounter(second, 0) },
        { "empty", "" },
        { "not base64", "garbage!" },
        { "handshake line", R"({"proof":"AAAA"})" },
        { "whitespace inside", QByteArray(first).insert(4, ' ') },
        { "shorter than counter and tag", linkcrypto::base64Encode(QByteArray(23, '\0')) },
    };
    for (const Case& c : refused) {
        QString why;
        EXPECT_FALSE(pair.server.open(c.line, &why)) << c.name;
        EXPECT_FALSE(why.isEmpty()) << c.name;
        EXPECT_EQ(pair.server.receivedCount(), 0u) << c.name;
    }
    EXPECT_EQ(pair.server.open(first), QByteArray("first"));
    EXPECT_FALSE(pair.server.open(first)) << "a repeat";
    EXPECT_EQ(pair.server.open(second), QByteArray("second"));
    EXPECT_EQ(pair.server.receivedCount(), 2u);
}

TEST(LinkCrypto, Base64IsStandardAndStrict)
{
    for (int length = 0; length < 70; ++length) {
        QByteArray bytes;
        for (int i = 0; i < length; ++i)
            bytes.append(static_cast<char>(i * 97 + 13));
        EXPECT_EQ(linkcrypto::base64Encode(bytes), bytes.toBase64()) << length;
        EXPECT_EQ(linkcrypto::base64Decode(bytes.toBase64()), bytes) << length;
    }
    for (const char* text : { "A", "AB", "ABC", "A===", "AB=C", "=AAA", "AB==", "ABD=", "AA A", "AA\nA", "-_AA",
                              "AAAA=", "AAA\x80", "AA==AAAA" })
        EXPECT_FALSE(linkcrypto::base64Decode(text)) << text;
    EXPECT_EQ(linkcrypto::base64Decode("AA=="), QByteArray(1, '\0'));
    EXPECT_EQ(linkcrypto::base64Decode("AAE="), QByteArray::fromHex("0001"));
}
