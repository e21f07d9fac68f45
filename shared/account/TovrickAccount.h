#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QCoro/QCoroTask>

#include <functional>
#include <optional>

#include "shared/account/AccountSession.h"
#include "shared/util/Json.h"

// The one process-wide account object: the signed-in session, sign-in and sign-out, and every request
// to the product's API, including the model proxy. Lives on the main thread.
class TovrickAccount : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool signedIn READ isSignedIn NOTIFY sessionChanged)

public:
    static TovrickAccount& shared();

    // Lowercase hex SHA-256 of the text's UTF-8 bytes; names per-account folders and files.
    static QString nonceHash(const QString& text);

    const std::optional<AccountSession>& session() const;
    bool busy() const;
    QString message() const;
    bool isSignedIn() const;
    std::optional<QString> userId() const;

    // Calls `receiver` with the current session at once, then with every new value, each delivered
    // before session() holds it, for as long as `context` lives.
    void subscribeSession(QObject* context, std::function<void(const std::optional<AccountSession>&)> receiver);

    // Posts {"body": body} to "ai/" + path with the bearer device token and returns the answer's bytes
    // unchanged. Throws TovrickAPIError or NetworkError (both UserFacingError).
    QCoro::Task<QByteArray> aiRequest(QString path, Json body, double timeoutSeconds);
    // Posts {"audio": base64, "format", "diarize"} to "ai/transcriptions" (65 s). Throws like aiRequest.
    QCoro::Task<QByteArray> transcribe(QByteArray audio, QString format, bool diarize);

    QCoro::Task<> signInWithGoogle();
    QCoro::Task<> signInWithAppleWeb();
    QCoro::Task<> signOut();
    QCoro::Task<> deleteAccount();

    // Runs before an account is deleted, with its user id; a throw stops the deletion.
    std::function<QCoro::Task<>(QString userId)> prepareDeletion;

    // Adopts a session (stored in the vault and published); used by sign-in, pairing and tests.
    void adoptSession(const AccountSession& session);
    // Forgets the session locally (stored and published), without asking the service.
    void clearSession();

    // Refreshes from "account" now, then every 60 s, until stopped.
    void startAccountLoop();
    void stopAccountLoop();

signals:
    void sessionChanged();
    void busyChanged();
    void messageChanged();

private:
    TovrickAccount();
    struct Private;
    Private* d;
};
