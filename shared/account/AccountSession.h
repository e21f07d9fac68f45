#pragma once

#include <QString>

#include <optional>

#include "shared/util/Json.h"

// The signed-in session returned by the account service.
struct AccountSession {
    QString userId;
    QString deviceId;
    QString deviceToken;
    QString displayName;
    std::optional<QString> email;
    double expiresAt = 0; // milliseconds since 1970
    QString authMethod;   // "apple", "google" or another method text
    std::optional<QString> appleUserId;

    // Valid while `nowMs` is below `expiresAt` and the device token starts with "tvk_".
    bool isValid(double nowMs) const;

    Json toJson() const;
    // Strict: a missing required key or a wrong type throws JsonDecodeError.
    static AccountSession fromJson(const Json& object);

    bool operator==(const AccountSession&) const = default;
};
