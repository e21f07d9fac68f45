#include "shared/account/TovrickAPIError.h"

TovrickAPIError::TovrickAPIError(Kind kind, QString code, int status, QString description)
    : UserFacingError(std::move(description)), m_kind(kind), m_code(std::move(code)), m_status(status)
{
}

TovrickAPIError TovrickAPIError::signedOut()
{
    return {Kind::signedOut, {}, 0, QStringLiteral("You're not signed in to Tovrick. Sign in and try again.")};
}

TovrickAPIError TovrickAPIError::notConfigured()
{
    return {Kind::notConfigured, {}, 0,
            QStringLiteral("Tovrick isn't set up with the address of its service, so it can't reach your account.")};
}

TovrickAPIError TovrickAPIError::server(const QString& code, int httpStatus)
{
    return {Kind::server, code, httpStatus, messageForCode(code, httpStatus)};
}

QString TovrickAPIError::messageForCode(const QString& code, int httpStatus)
{
    if (code == QStringLiteral("unauthorized") || code == QStringLiteral("session_expired")
        || code == QStringLiteral("device_revoked"))
        return QStringLiteral("Your Tovrick sign-in is no longer valid. Sign in again.");
    if (code == QStringLiteral("forbidden"))
        return QStringLiteral("Your Tovrick account isn't allowed to do that.");
    if (code == QStringLiteral("not_found"))
        return QStringLiteral("The Tovrick service doesn't know that request.");
    if (code == QStringLiteral("invalid_request"))
        return QStringLiteral("The Tovrick service couldn't accept that request.");
    if (code == QStringLiteral("rate_limited"))
        return QStringLiteral("Too many requests in a short time. Wait a moment and try again.");
    if (code == QStringLiteral("quota_exceeded"))
        return QStringLiteral("Your Tovrick account has used up its allowance for now.");
    if (code == QStringLiteral("upstream_error") || code == QStringLiteral("upstream_timeout"))
        return QStringLiteral("The model service isn't answering right now. Try again shortly.");
    if (code == QStringLiteral("invalid_state") || code == QStringLiteral("auth_failed"))
        return QStringLiteral("The sign-in couldn't be completed. Please try again.");
    if (code == QStringLiteral("invalid_session"))
        return QStringLiteral("The Tovrick service sent a sign-in that isn't valid. Please try again.");
    if (code == QStringLiteral("invalid_response"))
        return QStringLiteral("The Tovrick service sent an answer that couldn't be read.");
    if (httpStatus == 401)
        return QStringLiteral("Your Tovrick sign-in is no longer valid. Sign in again.");
    if (httpStatus >= 500)
        return QStringLiteral("The Tovrick service has a problem right now (%1). Try again shortly.").arg(code);
    return QStringLiteral("The Tovrick service reported an error (%1).").arg(code);
}

NetworkError NetworkError::timedOut()
{
    return {Kind::timedOut, QStringLiteral("The Tovrick service didn't answer in time. Check the connection and try again.")};
}

NetworkError NetworkError::unreachable()
{
    return {Kind::unreachable, QStringLiteral("Tovrick couldn't reach its service. Check the internet connection and try again.")};
}

NetworkError NetworkError::insecure()
{
    return {Kind::insecure, QStringLiteral("Tovrick couldn't verify the identity of its service, so it didn't send anything.")};
}
