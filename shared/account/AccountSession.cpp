#include "shared/account/AccountSession.h"

#include <cmath>

bool AccountSession::isValid(double nowMs) const
{
    return nowMs < expiresAt && deviceToken.startsWith(QStringLiteral("tvk_"));
}

Json AccountSession::toJson() const
{
    Json object = Json::object();
    object["userId"] = json::fromQString(userId);
    object["deviceId"] = json::fromQString(deviceId);
    object["deviceToken"] = json::fromQString(deviceToken);
    object["displayName"] = json::fromQString(displayName);
    if (email)
        object["email"] = json::fromQString(*email);
    object["expiresAt"] = json::number(expiresAt);
    object["authMethod"] = json::fromQString(authMethod);
    if (appleUserId)
        object["appleUserId"] = json::fromQString(*appleUserId);
    return object;
}

AccountSession AccountSession::fromJson(const Json& document)
{
    const Json& object = json::requireObject(document, "session");
    AccountSession session;
    session.userId = json::requireString(object, "userId");
    session.deviceId = json::requireString(object, "deviceId");
    session.deviceToken = json::requireString(object, "deviceToken");
    session.displayName = json::requireString(object, "displayName");
    session.email = json::optionalString(object, "email");
    session.expiresAt = json::requireNumber(object, "expiresAt");
    if (!std::isfinite(session.expiresAt))
        throw JsonDecodeError("session: expiresAt is not a finite number");
    session.authMethod = json::requireString(object, "authMethod");
    session.appleUserId = json::optionalString(object, "appleUserId");
    return session;
}
