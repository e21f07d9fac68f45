#include "shared/link/PairingRecord.h"

#include "shared/util/Crypto.h"

std::optional<QByteArray> PairingRecord::key() const
{
    auto decoded = QByteArray::fromBase64Encoding(secret.toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    // toLatin1 turns characters outside Latin-1 into '?', which the strict decoder refuses.
    if (!decoded || decoded.decoded.size() != keyLength)
        return std::nullopt;
    return decoded.decoded;
}

std::optional<QString> PairingRecord::identifier() const
{
    const auto bytes = key();
    if (!bytes)
        return std::nullopt;
    return QString::fromLatin1(crypto::sha256(*bytes).left(12).toHex());
}

PairingRecord PairingRecord::withKey(const QString& service, const QByteArray& key)
{
    PairingRecord record;
    record.service = service;
    record.secret = QString::fromLatin1(key.toBase64());
    return record;
}

QString PairingRecord::scanText() const
{
    return QStringLiteral("tovrick-pair:") + QString::fromLatin1(json::dumpBytes(toJson()).toBase64());
}

Json PairingRecord::toJson() const
{
    Json json = Json::object();
    json["version"] = version;
    json["service"] = json::fromQString(service);
    json["secret"] = json::fromQString(secret);
    return json;
}

PairingRecord PairingRecord::fromJson(const Json& json)
{
    json::requireObject(json, "pairing record");
    PairingRecord record;
    const auto version = json::requireInteger(json, "version");
    if (version < INT32_MIN || version > INT32_MAX)
        throw JsonDecodeError("\"version\" is out of range");
    record.version = static_cast<int>(version);
    record.service = json::requireString(json, "service");
    record.secret = json::requireString(json, "secret");
    return record;
}
