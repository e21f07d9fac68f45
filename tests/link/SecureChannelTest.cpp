#include <gtest/gtest.h>

#include "shared/link/LinkCrypto.h"
#include "shared/link/SecureChannel.h"
#include "shared/util/Json.h"

namespace {

using Role = SecureChannel::Role;
const QByteArray pairingKey(32, '\x2a');

QByteArray base64Field(const QByteArray& line, const char* name)
{
    return QByteArray::fromBase64(QByteArray::fromStdString(json::parse(line)[name].get<std::string>()));
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

TEST(LinkCrypto, Base64IsStandardAndStrict)
{
    for (int length = 0; length < 70; ++length) {
        QByteArray bytes;
        for (int i = 0; i < length; ++i)
            bytes.append(static_cast<char>(i * 97 + 13));
        EXPECT_EQ(linkcrypto::base64Encode(bytes), bytes.toBase64()) << length;
        EXPECT_EQ(linkcrypto::base64Decode(bytes.toBase64()), bytes) << length;
    }
    for (const char* text : { "A", "A===", "AB=C", "ABD=", "AA A", "-_AA", "AAAA=", "AAA\x80", "AA==AAAA" })
        EXPECT_FALSE(linkcrypto::base64Decode(text)) << text;
}

TEST(SecureChannel, ServerRefusesMalformedOpeningsAndProofsMadeWithoutTheKey)
{
    for (const char* line : { "garbage", "[]", R"({"challenge":5})", R"({"challenge":"AAAA"})", R"({"proof":"AAAA"})" })
        EXPECT_TRUE(SecureChannel(pairingKey, Role::server).handshake(line).error) << line;

    // Only the client's own proof is taken; a client without the key can still reflect the server's proof,
    // or make one with a key of its own.
    for (const std::string_view by : { "the client", "another key", "the server, reflected" }) {
        SecureChannel client(pairingKey, Role::client);
        SecureChannel server(pairingKey, Role::server);
        const QByteArray opening = client.opening();
        const QByteArray challenge = server.handshake(opening).reply;
        QByteArray proof = client.handshake(challenge).reply;
        if (by == "another key")
            proof = R"({"proof":")"
                + SecureChannel::proof(QByteArray(32, 'x'), Role::client, base64Field(opening, "challenge"),
                                       base64Field(challenge, "challenge"))
                      .toBase64()
                + R"("})";
        else if (by == "the server, reflected")
            proof = R"({"proof":")" + base64Field(challenge, "proof").toBase64() + R"("})";
        const bool honest = by == "the client";
        EXPECT_EQ(server.handshake(proof).error.has_value(), !honest) << by;
        ASSERT_EQ(server.isEstablished(), honest) << by;
        // Each direction has its own key: the server's own record does not open as the client's.
        if (honest) {
            EXPECT_FALSE(server.open(server.seal("mine")));
        }
    }
}
