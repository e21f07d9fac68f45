#pragma once

#include <QByteArray>

#include <optional>

// The primitives of the phone link over OpenSSL. Failures inside OpenSSL throw std::runtime_error;
// a record that does not authenticate is an ordinary outcome (nullopt).
namespace linkcrypto {

QByteArray hmacSha256(const QByteArray& key, const QByteArray& message);
QByteArray hkdfSha256(const QByteArray& secret, const QByteArray& salt, const QByteArray& info, int length);

// AES-256-GCM with a 12-byte nonce; the 16-byte tag follows the ciphertext.
QByteArray sealAesGcm(const QByteArray& key, const QByteArray& nonce, const QByteArray& plaintext);
std::optional<QByteArray> openAesGcm(const QByteArray& key, const QByteArray& nonce, const QByteArray& sealed);

// Standard base64 with padding, strictly: no whitespace, no other alphabet. Table-driven, because the
// branchy decoders slow to a crawl on the random-looking text of a sealed record.
QByteArray base64Encode(const QByteArray& bytes);
std::optional<QByteArray> base64Decode(const QByteArray& text);

// Compares in time that depends only on the lengths.
bool constantTimeEqual(const QByteArray& a, const QByteArray& b);
// Overwrites the bytes in place, in a way the compiler may not drop.
void wipe(QByteArray& bytes);

} // namespace linkcrypto
