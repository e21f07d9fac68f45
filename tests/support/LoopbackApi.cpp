#include "support/LoopbackApi.h"

#include <QDateTime>
#include <QHostAddress>
#include <QPointer>
#include <QSaveFile>
#include <QSslConfiguration>
#include <QSslServer>
#include <QSslSocket>
#include <QTimer>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <deque>

#include "shared/account/TovrickAccount.h"
#include "shared/util/Crypto.h"

namespace {

// A request head larger than this is not from our client: drop the connection.
constexpr qsizetype kMaximumHead = 64 * 1024;
constexpr qsizetype kMaximumBody = 64 * 1024 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200: return "OK";
    case 201: return "Created";
    case 204: return "No Content";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 409: return "Conflict";
    case 429: return "Too Many Requests";
    case 500: return "Internal Server Error";
    case 502: return "Bad Gateway";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

double nowMs()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch());
}

QByteArray toPem(BIO* bio)
{
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    return QByteArray(data, static_cast<qsizetype>(size));
}

} // namespace

LoopbackAnswer LoopbackAnswer::json(const Json& document, int status)
{
    LoopbackAnswer a;
    a.status = status;
    a.body = json::dumpBytes(document);
    return a;
}

LoopbackAnswer LoopbackAnswer::error(const QString& code, int status)
{
    return json(Json {{"error", json::fromQString(code)}}, status);
}

LoopbackAnswer LoopbackAnswer::raw(const QByteArray& body, int status, const QByteArray& contentType)
{
    LoopbackAnswer a;
    a.status = status;
    a.body = body;
    a.contentType = contentType;
    return a;
}

LoopbackAnswer LoopbackAnswer::dropped()
{
    LoopbackAnswer a;
    a.dropConnection = true;
    return a;
}

LoopbackAnswer LoopbackAnswer::after(std::chrono::milliseconds wait) const
{
    LoopbackAnswer a = *this;
    a.delay = wait;
    return a;
}

TestCertificate makeTestCertificate()
{
    TestCertificate made;
    EVP_PKEY* key = EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256");
    X509* cert = X509_new();
    if (!key || !cert) {
        EVP_PKEY_free(key);
        X509_free(cert);
        return made;
    }
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(QDateTime::currentMSecsSinceEpoch() & 0x7fffffff));
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 7L * 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    // A subject of its own: with two servers trusted in one process, the verifier picks the issuer by
    // subject, and a shared one would match the wrong certificate.
    const QByteArray unit = "loopback-" + crypto::randomBytes(8).toHex();
    X509_NAME_add_entry_by_txt(name, "OU", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(unit.constData()),
                               -1, -1, 0);
    X509_set_issuer_name(cert, name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    for (const auto& [nid, value] : {std::pair {NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost"},
                                     std::pair {NID_basic_constraints, "critical,CA:TRUE"}}) {
        if (X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value)) {
            X509_add_ext(cert, ext, -1);
            X509_EXTENSION_free(ext);
        }
    }
    if (X509_sign(cert, key, EVP_sha256()) > 0) {
        BIO* certBio = BIO_new(BIO_s_mem());
        BIO* keyBio = BIO_new(BIO_s_mem());
        PEM_write_bio_X509(certBio, cert);
        PEM_write_bio_PrivateKey(keyBio, key, nullptr, nullptr, 0, nullptr, nullptr);
        made.certificate = QSslCertificate(toPem(certBio), QSsl::Pem);
        made.key = QSslKey(toPem(keyBio), QSsl::Ec, QSsl::Pem);
        BIO_free(certBio);
        BIO_free(keyBio);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
    return made;
}

struct LoopbackApi::Private {
    TestCertificate tls;
    QSslServer* server = nullptr;
    QList<RecordedRequest> received;
    QMap<QString, std::deque<LoopbackAnswer>> once;
    QMap<QString, Handler> handlers;
    QMap<QString, LoopbackAnswer> standing; // key: "METHOD path" or " path"
    std::function<std::optional<LoopbackAnswer>(const RecordedRequest&)> fallback;
    int stateCounter = 0;
};

namespace {

// Parses one HTTP/1.1 request from the start of `buffer`; none until all of it has arrived.
// Sets `bad` for a request that cannot be read.
std::optional<RecordedRequest> takeRequest(QByteArray& buffer, bool& bad)
{
    const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        bad = buffer.size() > kMaximumHead;
        return std::nullopt;
    }
    const QList<QByteArray> lines = buffer.left(headEnd).split('\n');
    const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
    if (first.size() != 3) {
        bad = true;
        return std::nullopt;
    }
    RecordedRequest request;
    request.method = first[0];
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            request.headers.insert(line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed());
    }
    bool ok = true;
    const qsizetype length = request.headers.contains("content-length")
        ? request.headers.value("content-length").toLongLong(&ok) : 0;
    if (!ok || length < 0 || length > kMaximumBody) {
        bad = true;
        return std::nullopt;
    }
    if (buffer.size() < headEnd + 4 + length)
        return std::nullopt;
    request.body = buffer.mid(headEnd + 4, length);
    buffer.remove(0, headEnd + 4 + length);

    QByteArray target = QByteArray::fromPercentEncoding(first[1]);
    const qsizetype mark = target.indexOf('?');
    if (mark >= 0) {
        request.query = QString::fromUtf8(target.mid(mark + 1));
        target.truncate(mark);
    }
    QString path = QString::fromUtf8(target);
    if (path.startsWith(QStringLiteral("/api/")))
        path = path.mid(5);
    else
        path = QStringLiteral("/") + path.mid(1); // outside the API: kept recognisable
    request.path = path;
    return request;
}

void writeAnswer(QSslSocket* socket, const LoopbackAnswer& answer)
{
    if (answer.dropConnection) {
        socket->abort();
        return;
    }
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' + reasonPhrase(answer.status)
        + "\r\nContent-Type: " + answer.contentType
        + "\r\nContent-Length: " + QByteArray::number(answer.body.size())
        + "\r\nConnection: close\r\n\r\n" + answer.body;
    socket->write(out);
    socket->disconnectFromHost();
}

} // namespace

LoopbackApi::LoopbackApi(QObject* parent) : QObject(parent), d(std::make_unique<Private>())
{
    d->tls = makeTestCertificate();
    d->server = new QSslServer(this);
    QSslConfiguration config = QSslConfiguration::defaultConfiguration();
    config.setLocalCertificate(d->tls.certificate);
    config.setPrivateKey(d->tls.key);
    config.setPeerVerifyMode(QSslSocket::VerifyNone); // the client has no certificate
    d->server->setSslConfiguration(config);
    d->server->setHandshakeTimeout(10000);

    connect(d->server, &QTcpServer::pendingConnectionAvailable, this, [this] {
        while (QTcpSocket* next = d->server->nextPendingConnection()) {
            auto* socket = qobject_cast<QSslSocket*>(next);
            if (!socket) {
                next->deleteLater();
                continue;
            }
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QIODevice::readyRead, this, [this, socket, buffer] {
                buffer->append(socket->readAll());
                bool bad = false;
                std::optional<RecordedRequest> request = takeRequest(*buffer, bad);
                if (bad) {
                    socket->abort();
                    return;
                }
                if (!request)
                    return;
                disconnect(socket, &QIODevice::readyRead, this, nullptr);
                d->received.append(*request);
                const QString path = request->path;
                LoopbackAnswer answer;
                if (auto it = d->once.find(path); it != d->once.end() && !it->empty()) {
                    answer = it->front();
                    it->pop_front();
                } else if (d->handlers.contains(path)) {
                    answer = d->handlers.value(path)(*request);
                } else if (d->standing.contains(QString::fromLatin1(request->method) + ' ' + path)) {
                    answer = d->standing.value(QString::fromLatin1(request->method) + ' ' + path);
                } else if (d->standing.contains(QLatin1Char(' ') + path)) {
                    answer = d->standing.value(QLatin1Char(' ') + path);
                } else if (auto fallen = d->fallback ? d->fallback(*request) : std::nullopt) {
                    answer = *fallen;
                } else {
                    answer = defaultAnswer(request->method, path);
                }
                emit requestReceived(*request);
                if (answer.delay.count() <= 0) {
                    writeAnswer(socket, answer);
                } else {
                    // The socket is the timer's context: a client that gave up takes the answer with it.
                    QTimer::singleShot(answer.delay, socket, [socket, answer] { writeAnswer(socket, answer); });
                }
            });
        }
    });
    d->server->listen(QHostAddress::LocalHost, 0);
}

LoopbackApi::~LoopbackApi() = default;

bool LoopbackApi::isListening() const { return d->server->isListening() && !d->tls.certificate.isNull(); }
quint16 LoopbackApi::port() const { return d->server->serverPort(); }

QUrl LoopbackApi::url() const
{
    return QUrl(QStringLiteral("https://127.0.0.1:%1/api/").arg(port()));
}

QSslCertificate LoopbackApi::certificate() const { return d->tls.certificate; }
QByteArray LoopbackApi::certificatePem() const { return d->tls.certificate.toPem(); }

bool LoopbackApi::writeCertificate(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(certificatePem());
    return file.commit();
}

void LoopbackApi::answer(const QString& path, const LoopbackAnswer& answer)
{
    d->standing.insert(QLatin1Char(' ') + path, answer);
}

void LoopbackApi::answer(const QByteArray& method, const QString& path, const LoopbackAnswer& answer)
{
    d->standing.insert(QString::fromLatin1(method) + QLatin1Char(' ') + path, answer);
}

void LoopbackApi::answerOnce(const QString& path, const LoopbackAnswer& answer)
{
    d->once[path].push_back(answer);
}

void LoopbackApi::handle(const QString& path, Handler handler)
{
    d->handlers.insert(path, std::move(handler));
}

void LoopbackApi::setFallback(std::function<std::optional<LoopbackAnswer>(const RecordedRequest&)> fallback)
{
    d->fallback = std::move(fallback);
}

void LoopbackApi::resetAnswers()
{
    d->fallback = nullptr;
    d->once.clear();
    d->handlers.clear();
    d->standing.clear();
}

Json LoopbackApi::sessionJson(const QString& userId, const QString& authMethod)
{
    Json session = {
        {"userId", json::fromQString(userId)},
        {"deviceId", "device-1"},
        {"deviceToken", "tvk_loopback-" + json::fromQString(userId)},
        {"displayName", "Loopback User"},
        {"email", "user@example.com"},
        {"expiresAt", json::number(nowMs() + 24.0 * 3600 * 1000)},
        {"authMethod", json::fromQString(authMethod)},
    };
    if (authMethod == QStringLiteral("apple"))
        session["appleUserId"] = "apple-" + json::fromQString(userId);
    return session;
}

Json LoopbackApi::decisionAnswer(const QString& choice)
{
    auto p = [&](const char* value) { return json::fromQString(choice) == value ? 0.9 : 0.05; };
    return Json {{"answers",
                  Json::array({{{"name", "activity"},
                                {"type", "choice"},
                                {"choice", json::fromQString(choice)},
                                {"confidence", 0.9},
                                {"probabilities",
                                 Json::array({{{"value", "on_task"}, {"probability", p("on_task")}},
                                              {{"value", "off_task"}, {"probability", p("off_task")}},
                                              {{"value", "uncertain"}, {"probability", p("uncertain")}}})}}})}};
}

Json LoopbackApi::responseAnswer(const QString& text)
{
    return Json {{"id", "resp_loopback"},
                 {"object", "response"},
                 {"status", "completed"},
                 {"output",
                  Json::array({{{"type", "message"},
                                {"role", "assistant"},
                                {"content",
                                 Json::array({{{"type", "output_text"},
                                               {"text", json::fromQString(text)},
                                               {"annotations", Json::array()}}})}}})}};
}

Json LoopbackApi::transcriptionAnswer()
{
    return Json {{"text", "Hello from the loopback API."},
                 {"segments",
                  Json::array({{{"speaker", "A"}, {"start", 0.0}, {"end", 1.5}, {"text", "Hello from the"}},
                               {{"speaker", "B"}, {"start", 1.5}, {"end", 2.5}, {"text", "loopback API."}}})}};
}

LoopbackAnswer LoopbackApi::defaultAnswer(const QByteArray& method, const QString& path) const
{
    const Json ok = {{"ok", true}};
    const std::string base = json::fromQString(url().toString());
    for (const char* provider : {"google", "apple/web"}) {
        const QString prefix = QStringLiteral("auth/") + QLatin1String(provider);
        if (path == prefix + QStringLiteral("/start")) {
            const std::string state = "loopback-state-" + std::to_string(++d->stateCounter);
            return LoopbackAnswer::json({{"url", base + "web/" + provider + "?state=" + state}, {"state", state}});
        }
        if (path == prefix + QStringLiteral("/finish"))
            return LoopbackAnswer::json(sessionJson(QStringLiteral("user-1"),
                                                    path.startsWith(QStringLiteral("auth/apple"))
                                                        ? QStringLiteral("apple") : QStringLiteral("google")));
    }
    if (path == QStringLiteral("auth/apple"))
        return LoopbackAnswer::json(sessionJson(QStringLiteral("user-1"), QStringLiteral("apple")));
    if (path == QStringLiteral("account")) {
        if (method == "DELETE")
            return LoopbackAnswer::json(ok);
        return LoopbackAnswer::json({{"userId", "user-1"},
                                     {"displayName", "Loopback User"},
                                     {"email", "user@example.com"},
                                     {"authMethod", "google"},
                                     {"expiresAt", json::number(nowMs() + 24.0 * 3600 * 1000)}});
    }
    if (path == QStringLiteral("devices/current"))
        return LoopbackAnswer::json(ok);
    if (path == QStringLiteral("devices/macs"))
        return LoopbackAnswer::json({{"macs", Json::array()}});
    if (path == QStringLiteral("pairing/start"))
        return LoopbackAnswer::json({{"pairingId", "pairing-1"},
                                     {"code", "loopback-code"},
                                     {"pollToken", "loopback-poll-token"},
                                     {"expiresAt", json::number(nowMs() + 10.0 * 60 * 1000)}});
    if (path == QStringLiteral("pairing/inspect"))
        return LoopbackAnswer::json({{"pairingId", "pairing-1"},
                                     {"deviceName", "Loopback Computer"},
                                     {"platform", "linux"},
                                     {"expiresAt", json::number(nowMs() + 10.0 * 60 * 1000)}});
    if (path == QStringLiteral("pairing/approve"))
        return LoopbackAnswer::json(ok);
    if (path == QStringLiteral("pairing/poll"))
        return LoopbackAnswer::json({{"status", "approved"}, {"session", sessionJson()}});
    if (path == QStringLiteral("ai/decisions"))
        return LoopbackAnswer::json(decisionAnswer());
    if (path == QStringLiteral("ai/responses"))
        return LoopbackAnswer::json(responseAnswer());
    if (path == QStringLiteral("ai/transcriptions"))
        return LoopbackAnswer::json(transcriptionAnswer());
    return LoopbackAnswer::error(QStringLiteral("not_found"), 404);
}

QList<RecordedRequest> LoopbackApi::requests() const { return d->received; }

QList<RecordedRequest> LoopbackApi::requests(const QString& path) const
{
    QList<RecordedRequest> matching;
    for (const RecordedRequest& r : d->received) {
        if (r.path == path)
            matching.append(r);
    }
    return matching;
}

std::optional<RecordedRequest> LoopbackApi::lastRequest(const QString& path) const
{
    for (auto it = d->received.crbegin(); it != d->received.crend(); ++it) {
        if (it->path == path)
            return *it;
    }
    return std::nullopt;
}

int LoopbackApi::requestCount(const QString& path) const
{
    return static_cast<int>(requests(path).size());
}

void LoopbackApi::clearRequests() { d->received.clear(); }

void signInForTests(TovrickAccount& account, LoopbackApi& api)
{
    account.setAPIBaseURLForTests(api.url());
    account.trustCertificateForTests(api.certificate());
    AccountSession session;
    session.userId = QStringLiteral("user-1");
    session.deviceId = QStringLiteral("device-1");
    session.deviceToken = QStringLiteral("tvk_test-token");
    session.displayName = QStringLiteral("Test User");
    session.email = QStringLiteral("user@example.com");
    session.expiresAt = nowMs() + 24.0 * 3600 * 1000;
    session.authMethod = QStringLiteral("google");
    account.adoptSession(session);
}

void signInForTests(LoopbackApi& api)
{
    signInForTests(TovrickAccount::shared(), api);
}
