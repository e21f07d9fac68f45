#include "shared/link/LinkCrypto.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <array>
#include <memory>
#include <stdexcept>

namespace linkcrypto {

namespace {

constexpr int tagLength = 16;

const unsigned char* bytes(const QByteArray& data)
{
    return reinterpret_cast<const unsigned char*>(data.constData());
}

unsigned char* bytes(QByteArray& data)
{
    return reinterpret_cast<unsigned char*>(data.data());
}

size_t size(const QByteArray& data)
{
    return static_cast<size_t>(data.size());
}

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

CipherContext gcmContext(bool encrypt, const QByteArray& key, const QByteArray& nonce)
{
    if (key.size() != 32 || nonce.size() != 12)
        throw std::runtime_error("AES-GCM needs a 32-byte key and a 12-byte nonce");
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context
        || EVP_CipherInit_ex(context.get(), EVP_aes_256_gcm(), nullptr, bytes(key), bytes(nonce), encrypt ? 1 : 0)
            != 1)
        throw std::runtime_error("AES-GCM set-up failed");
    return context;
}

} // namespace

QByteArray hmacSha256(const QByteArray& key, const QByteArray& message)
{
    QByteArray out(32, '\0');
    size_t length = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, key.constData(), size(key), bytes(message),
                   size(message), bytes(out), size(out), &length)
        || length != 32)
        throw std::runtime_error("HMAC-SHA256 failed");
    return out;
}

QByteArray hkdfSha256(const QByteArray& secret, const QByteArray& salt, const QByteArray& info, int length)
{
    EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    EVP_KDF_CTX* context = kdf ? EVP_KDF_CTX_new(kdf) : nullptr;
    EVP_KDF_free(kdf);
    if (!context)
        throw std::runtime_error("HKDF is not available");
    char digest[] = "SHA256";
    // OSSL_PARAM takes non-const pointers; OpenSSL only reads these buffers.
    QByteArray secretCopy = secret, saltCopy = salt, infoCopy = info;
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, secretCopy.data(), size(secretCopy)),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, saltCopy.data(), size(saltCopy)),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, infoCopy.data(), size(infoCopy)),
        OSSL_PARAM_construct_end(),
    };
    QByteArray out(length, '\0');
    const int ok = EVP_KDF_derive(context, bytes(out), size(out), params);
    EVP_KDF_CTX_free(context);
    wipe(secretCopy);
    if (ok != 1)
        throw std::runtime_error("HKDF-SHA256 failed");
    return out;
}

QByteArray sealAesGcm(const QByteArray& key, const QByteArray& nonce, const QByteArray& plaintext)
{
    CipherContext context = gcmContext(true, key, nonce);
    QByteArray out(plaintext.size() + tagLength, '\0');
    int written = 0;
    int last = 0;
    if ((!plaintext.isEmpty()
         && EVP_EncryptUpdate(context.get(), bytes(out), &written, bytes(plaintext), static_cast<int>(plaintext.size()))
             != 1)
        || EVP_EncryptFinal_ex(context.get(), bytes(out) + written, &last) != 1
        || EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_GET_TAG, tagLength, bytes(out) + plaintext.size()) != 1)
        throw std::runtime_error("AES-GCM encryption failed");
    return out;
}

std::optional<QByteArray> openAesGcm(const QByteArray& key, const QByteArray& nonce, const QByteArray& sealed)
{
    if (sealed.size() < tagLength)
        return std::nullopt;
    CipherContext context = gcmContext(false, key, nonce);
    const qsizetype cipherLength = sealed.size() - tagLength;
    QByteArray out(cipherLength, '\0');
    QByteArray tag = sealed.right(tagLength);
    int written = 0;
    int last = 0;
    if (cipherLength > 0
        && EVP_DecryptUpdate(context.get(), bytes(out), &written, bytes(sealed), static_cast<int>(cipherLength)) != 1)
        return std::nullopt;
    if (EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_GCM_SET_TAG, tagLength, tag.data()) != 1)
        throw std::runtime_error("AES-GCM set-up failed");
    if (EVP_DecryptFinal_ex(context.get(), bytes(out) + written, &last) != 1) {
        wipe(out);
        return std::nullopt;
    }
    return out;
}

QByteArray base64Encode(const QByteArray& data)
{
    QByteArray text(4 * ((data.size() + 2) / 3) + 1, '\0');
    const int length = EVP_EncodeBlock(bytes(text), bytes(data), static_cast<int>(data.size()));
    text.resize(length);
    return text;
}

std::optional<QByteArray> base64Decode(const QByteArray& text)
{
    constexpr unsigned bad = 0x40;
    static const std::array<unsigned char, 256> values = [] {
        std::array<unsigned char, 256> table {};
        table.fill(bad);
        const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (unsigned char i = 0; i < 64; ++i)
            table[static_cast<unsigned char>(alphabet[i])] = i;
        return table;
    }();
    const qsizetype length = text.size();
    if (length % 4 != 0)
        return std::nullopt;
    if (length == 0)
        return QByteArray();
    const auto* in = bytes(text);
    const int padding = in[length - 1] == '=' ? (in[length - 2] == '=' ? 2 : 1) : 0;
    QByteArray out(length / 4 * 3 - padding, '\0');
    unsigned char* write = bytes(out);
    unsigned invalid = 0;
    const qsizetype whole = padding > 0 ? length - 4 : length;
    for (qsizetype i = 0; i < whole; i += 4) {
        const unsigned a = values[in[i]], b = values[in[i + 1]], c = values[in[i + 2]], d = values[in[i + 3]];
        invalid |= a | b | c | d;
        const unsigned word = (a << 18) | (b << 12) | (c << 6) | d;
        *write++ = static_cast<unsigned char>(word >> 16);
        *write++ = static_cast<unsigned char>(word >> 8);
        *write++ = static_cast<unsigned char>(word);
    }
    if (padding > 0) {
        const unsigned char* last = in + length - 4;
        const unsigned a = values[last[0]], b = values[last[1]], c = padding == 1 ? values[last[2]] : 0;
        invalid |= a | b | c;
        // Bits past the last byte must be zero, or two texts would decode to the same bytes.
        if ((padding == 2 ? (b & 0x0f) : (c & 0x03)) != 0)
            invalid |= bad;
        const unsigned word = (a << 18) | (b << 12) | (c << 6);
        *write++ = static_cast<unsigned char>(word >> 16);
        if (padding == 1)
            *write++ = static_cast<unsigned char>(word >> 8);
    }
    if (invalid & bad)
        return std::nullopt;
    return out;
}

bool constantTimeEqual(const QByteArray& a, const QByteArray& b)
{
    return a.size() == b.size() && CRYPTO_memcmp(a.constData(), b.constData(), size(a)) == 0;
}

void wipe(QByteArray& bytes)
{
    if (!bytes.isEmpty())
        OPENSSL_cleanse(bytes.data(), size(bytes));
}

} // namespace linkcrypto
