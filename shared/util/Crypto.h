#pragma once

#include <QByteArray>
#include <QString>

namespace crypto {

QByteArray sha256(const QByteArray& bytes);
// Lowercase hexadecimal SHA-256 of the text's UTF-8 bytes (64 characters).
QString sha256Hex(const QString& text);
// Cryptographically strong random bytes.
QByteArray randomBytes(int count);

} // namespace crypto
