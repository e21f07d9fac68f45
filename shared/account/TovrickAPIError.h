#pragma once

#include <QString>

#include "shared/util/UserFacingError.h"

// A request to the product's API that could not be made or that the API refused.
class TovrickAPIError : public UserFacingError {
public:
    enum class Kind { signedOut, notConfigured, server };

    static TovrickAPIError signedOut();
    static TovrickAPIError notConfigured();
    // The API answered with an error status or an answer that cannot be read. `code` is the
    // answer's "error" text, or "http_<status>" when it named none.
    static TovrickAPIError server(const QString& code, int httpStatus = 0);

    Kind kind() const { return m_kind; }
    // Empty unless kind() is server.
    const QString& code() const { return m_code; }
    int httpStatus() const { return m_status; }

    // The sentence shown for a server error code.
    static QString messageForCode(const QString& code, int httpStatus);

private:
    TovrickAPIError(Kind kind, QString code, int status, QString description);
    Kind m_kind;
    QString m_code;
    int m_status;
};

// The API could not be reached: no answer in time, or the connection failed.
class NetworkError : public UserFacingError {
public:
    enum class Kind { timedOut, unreachable, insecure };

    static NetworkError timedOut();
    static NetworkError unreachable();
    // The server's certificate could not be verified.
    static NetworkError insecure();

    Kind kind() const { return m_kind; }

private:
    NetworkError(Kind kind, QString description) : UserFacingError(std::move(description)), m_kind(kind) {}
    Kind m_kind;
};
