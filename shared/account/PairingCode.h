#pragma once

#include <QString>

#include <optional>

#include "shared/account/AccountSession.h"
#include "shared/util/Json.h"

// A code that lets the signed-in phone add this signed-out computer to its account.
struct PairingTicket {
    QString pairingId;
    QString code;
    // Stays on this computer: only it may ask whether the code was approved.
    QString pollToken;
    double expiresAt = 0; // milliseconds since 1970

    // Strict: every field present and of its type, none empty, the expiry finite. Throws JsonDecodeError.
    static PairingTicket fromJson(const Json& document);

    // What the phone scans: "tovrick-account:" and standard base64 of {"pairingId", "code"}.
    QString accountCodeText() const;
};

// The service's answer about a pairing code.
struct PairingPoll {
    enum class Status { pending, expired, approved };
    Status status = Status::pending;
    // Present exactly when approved.
    std::optional<AccountSession> session;

    // Strict: an unknown status, or "approved" without a readable session, throws JsonDecodeError.
    static PairingPoll fromJson(const Json& document);
};
