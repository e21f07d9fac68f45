#include "shared/account/PairingCode.h"

#include <cmath>

PairingTicket PairingTicket::fromJson(const Json& document)
{
    const Json& object = json::requireObject(document, "pairing");
    PairingTicket ticket;
    ticket.pairingId = json::requireString(object, "pairingId");
    ticket.code = json::requireString(object, "code");
    ticket.pollToken = json::requireString(object, "pollToken");
    ticket.expiresAt = json::requireNumber(object, "expiresAt");
    if (ticket.pairingId.isEmpty() || ticket.code.isEmpty() || ticket.pollToken.isEmpty())
        throw JsonDecodeError("pairing: an empty field");
    if (!std::isfinite(ticket.expiresAt))
        throw JsonDecodeError("pairing: expiresAt is not a finite number");
    return ticket;
}

QString PairingTicket::accountCodeText() const
{
    const Json scanned = {{"pairingId", json::fromQString(pairingId)}, {"code", json::fromQString(code)}};
    return QStringLiteral("tovrick-account:") + QString::fromLatin1(json::dumpBytes(scanned).toBase64());
}

PairingPoll PairingPoll::fromJson(const Json& document)
{
    const Json& object = json::requireObject(document, "pairing status");
    const QString status = json::requireString(object, "status");
    PairingPoll poll;
    if (status == QStringLiteral("pending")) {
        poll.status = Status::pending;
    } else if (status == QStringLiteral("expired")) {
        poll.status = Status::expired;
    } else if (status == QStringLiteral("approved")) {
        poll.status = Status::approved;
        poll.session = AccountSession::fromJson(json::requireObjectAt(object, "session"));
    } else {
        throw JsonDecodeError("pairing status: unknown status");
    }
    return poll;
}
