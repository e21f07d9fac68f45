#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "shared/util/Json.h"

// The credential that lets a phone reach this machine: the machine's name and the 32-byte link key.
struct PairingRecord {
    static constexpr int currentVersion = 1;
    static constexpr int keyLength = 32;

    int version = currentVersion;
    QString service;
    // Standard base64 of the key.
    QString secret;

    // The key, only when `secret` is valid base64 of exactly 32 bytes.
    std::optional<QByteArray> key() const;
    // Lowercase hex of the first 12 bytes of the key's SHA-256, advertised as "tovrick-id"; absent with
    // the key.
    std::optional<QString> identifier() const;

    static PairingRecord withKey(const QString& service, const QByteArray& key);

    // What a phone scans to reach this machine: "tovrick-pair:" and standard base64 of the record's
    // JSON. It carries the key: show it briefly and never log it.
    QString scanText() const;

    Json toJson() const;
    // Strict: "version", "service" and "secret" present and of their types. Throws JsonDecodeError.
    static PairingRecord fromJson(const Json& json);

    bool operator==(const PairingRecord&) const = default;
};
