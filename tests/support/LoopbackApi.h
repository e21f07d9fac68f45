#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "shared/util/Json.h"

class QSslServer;
class QSslSocket;
class TovrickAccount;

// One request the loopback API received.
struct RecordedRequest {
    QByteArray method;                     // "GET", "POST", "DELETE"
    QString path;                          // below the API base, e.g. "ai/decisions" (no query)
    QString query;                         // the query text without "?", usually empty
    QMap<QByteArray, QByteArray> headers;  // names in lowercase
    QByteArray body;

    QByteArray header(const QByteArray& name) const { return headers.value(name.toLower()); }
    // The "Authorization" header, e.g. "Bearer tvk_...".
    QByteArray authorization() const { return header("authorization"); }
    // The body parsed as JSON; throws JsonDecodeError when it is not JSON.
    Json json() const { return json::parse(body); }
};

// What the loopback API answers to one request.
struct LoopbackAnswer {
    int status = 200;
    QByteArray body;
    QByteArray contentType = "application/json";
    std::chrono::milliseconds delay {0};
    // Closes the connection without any answer (a peer that drops the request).
    bool dropConnection = false;

    static LoopbackAnswer json(const Json& document, int status = 200);
    // A failure as the product's API sends it: {"error": code} with an error status.
    static LoopbackAnswer error(const QString& code, int status = 400);
    // Any bytes, e.g. a body that is not JSON.
    static LoopbackAnswer raw(const QByteArray& body, int status = 200,
                              const QByteArray& contentType = "text/plain");
    static LoopbackAnswer dropped();
    // The same answer, sent only after `wait`.
    LoopbackAnswer after(std::chrono::milliseconds wait) const;
};

// The product's HTTP API on 127.0.0.1 over HTTPS, with a certificate made when it starts. Every path
// the program uses has a default answer shaped like the real one (see docs/product-api.md); tests
// script other answers per path and read the requests it received. Lives on the main thread.
//
//     LoopbackApi api;                                   // listening at once
//     signInForTests(api);                               // TovrickAccount::shared() now uses it
//     api.answer("ai/decisions", LoopbackAnswer::error("rate_limited", 429));
//     ... run the code under test ...
//     auto sent = api.lastRequest("ai/decisions");       // method, path, headers, body
class LoopbackApi : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<LoopbackAnswer(const RecordedRequest&)>;

    explicit LoopbackApi(QObject* parent = nullptr);
    ~LoopbackApi() override;

    bool isListening() const;
    quint16 port() const;
    // The API base, "https://127.0.0.1:<port>/api/"; paths are appended to it.
    QUrl url() const;
    QSslCertificate certificate() const;
    QByteArray certificatePem() const;
    // Writes the certificate as PEM; returns false when the file cannot be written.
    bool writeCertificate(const QString& path) const;

    // Scripting. For a request, the first match wins, in this order: a one-shot answer queued for
    // the path (oldest first), a handler, a standing answer for the method and path, a standing
    // answer for the path, the default answer. `path` is below the base, without a leading "/".
    void answer(const QString& path, const LoopbackAnswer& answer);
    void answer(const QByteArray& method, const QString& path, const LoopbackAnswer& answer);
    void answerOnce(const QString& path, const LoopbackAnswer& answer);
    void handle(const QString& path, Handler handler);
    // Asked for every request that nothing above answered, before the default answer; none passes on.
    void setFallback(std::function<std::optional<LoopbackAnswer>(const RecordedRequest&)> fallback);
    // Back to the default answers (recorded requests stay).
    void resetAnswers();

    // The default answer of a path, and the session document its sign-in paths return.
    LoopbackAnswer defaultAnswer(const QByteArray& method, const QString& path) const;
    static Json sessionJson(const QString& userId = QStringLiteral("user-1"),
                            const QString& authMethod = QStringLiteral("google"));
    // The model-service-shaped answers of "ai/decisions", "ai/responses", "ai/transcriptions".
    static Json decisionAnswer(const QString& choice = QStringLiteral("on_task"));
    static Json responseAnswer(const QString& text = QStringLiteral("Hello from the loopback API."));
    static Json transcriptionAnswer();

    // Requests received so far, oldest first.
    QList<RecordedRequest> requests() const;
    QList<RecordedRequest> requests(const QString& path) const;
    std::optional<RecordedRequest> lastRequest(const QString& path) const;
    int requestCount(const QString& path) const;
    void clearRequests();

signals:
    void requestReceived(const RecordedRequest& request);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Points TovrickAccount::shared() at `api` (base address, trusted certificate) and adopts a valid
// session with the device token "tvk_test-token" for the user "user-1" (expiring in a day).
void signInForTests(LoopbackApi& api);
// The same for any account object.
void signInForTests(TovrickAccount& account, LoopbackApi& api);

// Makes a self-signed certificate for 127.0.0.1 and "localhost" with a fresh P-256 key.
struct TestCertificate {
    QSslCertificate certificate;
    QSslKey key;
};
TestCertificate makeTestCertificate();
