#pragma once

#include <QByteArray>
#include <QObject>
#include <QSslCertificate>
#include <QString>
#include <QUrl>
#include <QCoro/QCoroTask>

#include <chrono>
#include <functional>
#include <optional>

#include "shared/account/AccountSession.h"
#include "shared/account/DeviceVault.h"
#include "shared/account/PairingCode.h"
#include "shared/account/TovrickAPIError.h"
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

    // An account object of its own over `vault`, restoring the session stored there: for tests and
    // checks that must not share the process-wide one. `vault` must outlive it.
    explicit TovrickAccount(DeviceVault& vault, QObject* parent = nullptr);
    ~TovrickAccount() override;
    // Ends every request under way (each fails as unreachable) and the network with them, for good:
    // at the program's end, while the libraries it runs on are still whole. False when a request did
    // not unwind within 5 s.
    bool close();

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

    // Adding this computer from the signed-in phone: a new code (asked for without a token), then
    // whether the phone approved it. Neither adopts anything nor touches `busy` or `message`; they
    // throw like aiRequest, and an answer that cannot be read is TovrickAPIError "invalid_response".
    QCoro::Task<PairingTicket> startPairing();
    QCoro::Task<PairingPoll> pollPairing(PairingTicket ticket);

    // Whether the API's base address is known, so that sign-in can be tried at all.
    bool isConfigured() const;

    // Runs before an account is deleted, with its user id; a throw stops the deletion.
    std::function<QCoro::Task<>(QString userId)> prepareDeletion;

    // Adopts a session (stored in the vault and published); used by sign-in, pairing and tests.
    void adoptSession(const AccountSession& session);
    // Forgets the session locally (stored and published), without asking the service.
    void clearSession();

    // Refreshes from "account" now, then every 60 s, until stopped.
    void startAccountLoop();
    void stopAccountLoop();

    // Delivers a "tovrick:" sign-in callback (the browser's answer, handed over by a later start).
    // Returns true when it belongs to the web sign-in in progress, which then finishes.
    bool handleCallbackURL(const QUrl& url);

    // This installation's id (the "installation" vault item), made on first use.
    QString installationId();

    // Opens the sign-in page in the system browser; replaceable so tests can follow the page.
    std::function<bool(const QUrl&)> openURL;

    struct Timing {
        std::chrono::milliseconds request {15000};       // sign-in, sign-out, deletion, refresh
        std::chrono::milliseconds transcription {65000};
        std::chrono::milliseconds signInWait {std::chrono::minutes(5)}; // for the browser's answer
        std::chrono::milliseconds loopInterval {60000};
    };
    void setTimingForTests(const Timing& timing);
    // The API base instead of TovrickConfiguration's (must be https).
    void setAPIBaseURLForTests(const QUrl& base);
    // Trusts a test server's self-signed certificate in addition to the system's authorities.
    // Verification itself stays on.
    void trustCertificateForTests(const QSslCertificate& certificate);

signals:
    void sessionChanged();
    void busyChanged();
    void messageChanged();
    // A sign-in callback that matched the web sign-in in progress.
    void signInCallbackArrived(const QUrl& url);

private:
    TovrickAccount();
    void setSession(std::optional<AccountSession> value);
    // Waits for the held session's expiry; none for a session that is not valid now.
    void armExpiry();
    void sessionMayHaveExpired();
    void setBusy(bool busy);
    void setMessage(const QString& message);
    QCoro::Task<> webSignIn(QString provider);
    QCoro::Task<> refreshAccount(quint64 generation);
    // One request to the API: the answer's bytes on a 2xx status, else TovrickAPIError or NetworkError.
    QCoro::Task<QByteArray> send(QByteArray method, QString path, std::optional<QByteArray> body,
                                 std::optional<QString> bearer, std::chrono::milliseconds timeout);
    // The held device token, or the error that a request would fail with.
    QString bearerOrThrow() const;
    struct Private;
    Private* d;
};
