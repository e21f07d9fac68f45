#include "shared/util/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <stdexcept>

namespace crypto {

QByteArray sha256(const QByteArray& bytes)
{
    QByteArray digest(32, '\0');
    unsigned int length = 0;
    if (EVP_Digest(bytes.constData(), static_cast<size_t>(bytes.size()),
                   reinterpret_cast<unsigned char*>(digest.data()), &length, EVP_sha256(), nullptr)
            != 1
        || length != 32)
        throw std::runtime_error("SHA-256 failed");
    return digest;
}

QString sha256Hex(const QString& text)
{
    return QString::fromLatin1(sha256(text.toUtf8()).toHex());
}

QByteArray randomBytes(int count)
{
    QByteArray bytes(count, '\0');
    if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), count) != 1)
        throw std::runtime_error("no random bytes");
    return bytes;
}

} // namespace crypto
