#include "shared/account/TovrickAccount.h"

#include <QElapsedTimer>
#include <QScopeGuard>

#include <QCoreApplication>
#include <QDateTime>
#include <QDesktopServices>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSysInfo>
#include <QTimer>
#include <QUrlQuery>
#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroSignal>

#include <algorithm>
#include <cmath>
#include <memory>
#include <utility>
#include <vector>

#include "shared/account/TovrickConfiguration.h"
#include "shared/util/Crypto.h"
#include "shared/util/Log.h"
#include "shared/util/Uuid.h"

namespace {

double nowMs()
{
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch());
}

struct ReplyDeleter {
    void operator()(QNetworkReply* reply) const { reply->deleteLater(); }
};

// The API names its failures with short codes; anything else in "error" is not shown to anyone.
bool isErrorCode(const QString& code)
{
    if (code.isEmpty() || code.size() > 64)
        return false;
    for (const QChar c : code) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != QLatin1Char('_') && c != QLatin1Char('-')
            && c != QLatin1Char('.'))
            return false;
    }
    return true;
}

QString errorCode(const QByteArray& body, int status)
{
    try {
        const Json document = json::parse(body);
        if (document.is_object()) {
            if (const auto code = json::optionalString(document, "error"); code && isErrorCode(*code))
                return *code;
        }
    } catch (const JsonDecodeError&) {
    }
    return QStringLiteral("http_%1").arg(status);
}

std::chrono::milliseconds fromSeconds(double seconds, std::chrono::milliseconds fallback)
{
    if (!std::isfinite(seconds) || seconds <= 0)
        return fallback;
    return std::chrono::milliseconds(static_cast<qint64>(std::min(seconds, 24.0 * 3600) * 1000));
}

QString describe(const std::exception_ptr& failure)
{
    return describeError(failure, QStringLiteral("Something went wrong with your Tovrick account. Please try again."));
}

const QString kSignInCancelled = QStringLiteral("The sign-in was cancelled or took too long. Please try again.");

} // namespace

struct TovrickAccount::Private {
    DeviceVault* vault = nullptr;
    // Its own thread carries the connections: gone with it, and only with it.
    std::unique_ptr<QNetworkAccessManager> network = std::make_unique<QNetworkAccessManager>();
    std::optional<AccountSession> session;
    bool busy = false;
    QString message;

    struct Subscriber {
        QPointer<QObject> context;
        bool hasContext = false;
        std::function<void(const std::optional<AccountSession>&)> receiver;
    };
    std::vector<Subscriber> subscribers;

    QTimer loopTimer;
    quint64 loopGeneration = 0;
    // Fires when the held session reaches its expiry, so that its end is published like a sign-out.
    QTimer expiryTimer;
    Timing timing;
    std::optional<QUrl> baseOverride;
    QList<QSslCertificate> trusted;

    // The web sign-in waiting for the browser: its provider path and the state the API gave it.
    QString pendingProvider;
    QString pendingState;
    bool closing = false;
    // Requests under way; the destructor waits for their coroutines to unwind.
    int inFlight = 0;
};

TovrickAccount& TovrickAccount::shared()
{
    // Kept for the whole run: its network object must not outlive the application object's end.
    static TovrickAccount* instance = new TovrickAccount();
    return *instance;
}

TovrickAccount::TovrickAccount() : TovrickAccount(DeviceVault::shared()) {}

TovrickAccount::TovrickAccount(DeviceVault& vault, QObject* parent) : QObject(parent), d(new Private)
{
    d->vault = &vault;
    openURL = [](const QUrl& url) { return QDesktopServices::openUrl(url); };
    connect(&d->loopTimer, &QTimer::timeout, this, [this] { refreshAccount(d->loopGeneration); });
    d->expiryTimer.setSingleShot(true);
    d->expiryTimer.setTimerType(Qt::PreciseTimer);
    connect(&d->expiryTimer, &QTimer::timeout, this, &TovrickAccount::sessionMayHaveExpired);
    // A development or end-to-end API with a certificate of its own: trusted in addition, never instead.
    const QString extraCertificate = qEnvironmentVariable("TOVRICK_API_CERTIFICATE");
    if (!extraCertificate.isEmpty())
        d->trusted.append(QSslCertificate::fromPath(extraCertificate));

    if (const auto stored = vault.read(QString::fromLatin1(vaultItem::session)).found()) {
        try {
            d->session = AccountSession::fromJson(json::parse(*stored));
        } catch (const JsonDecodeError&) {
            // Left in the vault: the next sign-in replaces it, nothing else does.
            logline::warning(QStringLiteral("the stored session cannot be read; starting signed out"));
        }
    }
    armExpiry();
}

TovrickAccount::~TovrickAccount()
{
    if (close())
        delete d;
    // else a request that never unwinds still points at d: keep it rather than free it under it
}

bool TovrickAccount::close()
{
    // Requests and a sign-in still waiting would never resume once their objects are gone, and their
    // coroutine frames would leak: end them now, while everything they touch still exists.
    if (!std::exchange(d->closing, true)) {
        d->loopTimer.stop();
        d->expiryTimer.stop();
        for (QNetworkReply* reply : d->network->findChildren<QNetworkReply*>()) {
            if (reply->isRunning())
                reply->abort();
            else // finished, but its queued "finished" has not been delivered yet
                QCoreApplication::sendPostedEvents(reply, QEvent::MetaCall);
        }
        if (!d->pendingState.isEmpty())
            emit signInCallbackArrived(QUrl());
    }
    // An aborted reply may report its end through the event loop: let every request unwind, or its
    // coroutine frame (and its caller's) would be left behind.
    QElapsedTimer waited;
    waited.start();
    while (d->inFlight > 0 && waited.elapsed() < 5000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (d->inFlight > 0)
        return false;
    // Its connection thread would otherwise go on reading sockets while the process unwinds its
    // libraries under it.
    d->network.reset();
    return true;
}

QString TovrickAccount::nonceHash(const QString& text)
{
    return crypto::sha256Hex(text);
}

const std::optional<AccountSession>& TovrickAccount::session() const { return d->session; }
bool TovrickAccount::busy() const { return d->busy; }
QString TovrickAccount::message() const { return d->message; }

bool TovrickAccount::isSignedIn() const
{
    return d->session && d->session->isValid(nowMs());
}

std::optional<QString> TovrickAccount::userId() const
{
    if (!isSignedIn())
        return std::nullopt;
    return d->session->userId;
}

void TovrickAccount::subscribeSession(QObject* context,
                                      std::function<void(const std::optional<AccountSession>&)> receiver)
{
    receiver(d->session);
    d->subscribers.push_back({context, context != nullptr, std::move(receiver)});
}

void TovrickAccount::setSession(std::optional<AccountSession> value)
{
    // Subscribers hear the new value before the property holds it; one may subscribe or return here.
    const auto subscribers = d->subscribers;
    for (const auto& subscriber : subscribers) {
        if (!subscriber.hasContext || subscriber.context)
            subscriber.receiver(value);
    }
    std::erase_if(d->subscribers, [](const Private::Subscriber& s) { return s.hasContext && !s.context; });
    d->session = std::move(value);
    armExpiry();
    emit sessionChanged();
}

void TovrickAccount::armExpiry()
{
    d->expiryTimer.stop();
    // Only a valid session can expire; one adopted already expired was published as it is.
    if (!isSignedIn())
        return;
    // The monotonic clock stops while the computer sleeps and the wall clock may be set: look again
    // at least every minute rather than trust one long wait.
    const double remaining = d->session->expiresAt - nowMs();
    d->expiryTimer.start(static_cast<int>(std::clamp(std::ceil(remaining), 1.0, 60000.0)));
}

void TovrickAccount::sessionMayHaveExpired()
{
    if (!d->session || d->closing)
        return;
    if (isSignedIn()) {
        armExpiry();
        return;
    }
    logline::info(QStringLiteral("the sign-in expired"));
    clearSession();
}

void TovrickAccount::setBusy(bool busy)
{
    if (d->busy == busy)
        return;
    d->busy = busy;
    emit busyChanged();
}

void TovrickAccount::setMessage(const QString& message)
{
    if (d->message == message)
        return;
    d->message = message;
    emit messageChanged();
}

void TovrickAccount::adoptSession(const AccountSession& session)
{
    if (!d->vault->write(QString::fromLatin1(vaultItem::session), json::dumpBytes(session.toJson())))
        logline::warning(QStringLiteral("the session could not be stored; it lasts until Tovrick quits"));
    setSession(session);
}

void TovrickAccount::clearSession()
{
    if (!d->vault->remove(QString::fromLatin1(vaultItem::session)))
        logline::warning(QStringLiteral("the stored session could not be removed"));
    setSession(std::nullopt);
}

QString TovrickAccount::installationId()
{
    const QString item = QString::fromLatin1(vaultItem::installation);
    const VaultRead read = d->vault->read(item);
    if (const auto stored = read.found(); stored && uuid::parse(QString::fromLatin1(*stored)))
        return QString::fromLatin1(*stored);
    const QString made = uuid::text(uuid::make());
    // A stored id that could not be read now is kept for later runs.
    if (read.isFailed())
        logline::warning(QStringLiteral("the installation id could not be read; using one for this run only"));
    else if (!d->vault->write(item, made.toLatin1()))
        logline::warning(QStringLiteral("the installation id could not be stored"));
    return made;
}

void TovrickAccount::setTimingForTests(const Timing& timing)
{
    d->timing = timing;
    if (d->loopTimer.isActive())
        d->loopTimer.start(timing.loopInterval);
}

void TovrickAccount::setAPIBaseURLForTests(const QUrl& base)
{
    d->baseOverride = TovrickConfiguration::acceptedBaseURL(base.toString());
}

void TovrickAccount::trustCertificateForTests(const QSslCertificate& certificate)
{
    if (!certificate.isNull() && !d->trusted.contains(certificate))
        d->trusted.append(certificate);
}

QString TovrickAccount::bearerOrThrow() const
{
    if (!d->baseOverride && !TovrickConfiguration::apiBaseURL())
        throw TovrickAPIError::notConfigured();
    if (!isSignedIn())
        throw TovrickAPIError::signedOut();
    return d->session->deviceToken;
}

QCoro::Task<QByteArray> TovrickAccount::send(QByteArray method, QString path, std::optional<QByteArray> body,
                                            std::optional<QString> bearer, std::chrono::milliseconds timeout)
{
    if (d->closing)
        throw NetworkError::unreachable();
    ++d->inFlight;
    const auto unwound = qScopeGuard([state = d] { --state->inFlight; });
    const std::optional<QUrl> base = d->baseOverride ? d->baseOverride : TovrickConfiguration::apiBaseURL();
    if (!base)
        throw TovrickAPIError::notConfigured();
    QUrl url = *base;
    url.setPath(base->path() + path);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/json"));
    request.setRawHeader("Accept", "application/json");
    if (bearer)
        request.setRawHeader("Authorization", "Bearer " + bearer->toUtf8());
    // A redirect would carry the bearer token to an address nobody checked.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!d->trusted.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(d->trusted);
        request.setSslConfiguration(tls);
    }

    QNetworkReply* raw = nullptr;
    if (method == "GET")
        raw = d->network->get(request);
    else if (method == "POST")
        raw = d->network->post(request, body.value_or(QByteArray()));
    else
        raw = body ? d->network->sendCustomRequest(request, method, *body) : d->network->sendCustomRequest(request, method);
    std::unique_ptr<QNetworkReply, ReplyDeleter> reply(raw);

    auto waiting = qCoro(reply.get()).waitForFinished(timeout);
    const bool finished = co_await waiting;
    if (d->closing)
        throw NetworkError::unreachable();
    if (!finished) {
        reply->abort();
        logline::warning(QStringLiteral("%1 %2: no answer within %3 ms")
                             .arg(QString::fromLatin1(method), path).arg(timeout.count()));
        throw NetworkError::timedOut();
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray answer = reply->readAll();
    if (status == 0) {
        logline::warning(QStringLiteral("%1 %2 failed: %3").arg(QString::fromLatin1(method), path, reply->errorString()));
        switch (reply->error()) {
        case QNetworkReply::SslHandshakeFailedError:
            throw NetworkError::insecure();
        case QNetworkReply::TimeoutError:
        case QNetworkReply::OperationCanceledError:
            throw NetworkError::timedOut();
        default:
            throw NetworkError::unreachable();
        }
    }
    if (status >= 200 && status < 300)
        co_return answer;
    const QString code = errorCode(answer, status);
    logline::warning(QStringLiteral("%1 %2: status %3, %4").arg(QString::fromLatin1(method), path).arg(status).arg(code));
    throw TovrickAPIError::server(code, status);
}

QCoro::Task<QByteArray> TovrickAccount::aiRequest(QString path, Json body, double timeoutSeconds)
{
    const QString bearer = bearerOrThrow();
    QByteArray payload;
    try {
        payload = json::dumpBytes(Json {{"body", std::move(body)}});
    } catch (const JsonEncodeError&) {
        throw TovrickAPIError::server(QStringLiteral("invalid_request"));
    }
    // Named arguments: g++ 12 mishandles temporaries passed to a coroutine inside co_await.
    const QByteArray method = "POST";
    const QString route = QStringLiteral("ai/") + path;
    const auto timeout = fromSeconds(timeoutSeconds, d->timing.request);
    auto request = send(method, route, payload, bearer, timeout);
    co_return co_await request;
}

QCoro::Task<QByteArray> TovrickAccount::transcribe(QByteArray audio, QString format, bool diarize)
{
    const QString bearer = bearerOrThrow();
    Json payload = Json::object();
    payload["audio"] = audio.toBase64().toStdString();
    payload["format"] = json::fromQString(format);
    payload["diarize"] = diarize;
    const QByteArray method = "POST";
    const QString route = QStringLiteral("ai/transcriptions");
    const QByteArray body = json::dumpBytes(payload);
    auto request = send(method, route, body, bearer, d->timing.transcription);
    co_return co_await request;
}

QCoro::Task<> TovrickAccount::signInWithGoogle()
{
    return webSignIn(QStringLiteral("google"));
}

QCoro::Task<> TovrickAccount::signInWithAppleWeb()
{
    return webSignIn(QStringLiteral("apple/web"));
}

namespace {

// A session the API hands out must be usable at once, or it is not adopted.
AccountSession readSession(const QByteArray& bytes)
{
    AccountSession session;
    try {
        session = AccountSession::fromJson(json::parse(bytes));
    } catch (const JsonDecodeError&) {
        throw TovrickAPIError::server(QStringLiteral("invalid_response"));
    }
    if (!session.isValid(nowMs()))
        throw TovrickAPIError::server(QStringLiteral("invalid_session"));
    return session;
}

Json deviceFields(const QString& installation)
{
    return Json {{"installationId", json::fromQString(installation)},
                 {"deviceName", json::fromQString(QSysInfo::machineHostName())},
                 {"platform", "linux"}};
}

} // namespace

QCoro::Task<> TovrickAccount::webSignIn(QString provider)
{
    if (d->busy)
        co_return;
    QPointer<TovrickAccount> self(this);
    setBusy(true);
    setMessage({});
    try {
        const QString callback = QStringLiteral("tovrick://auth/") + provider;
        Json start = deviceFields(installationId());
        start["callbackURL"] = json::fromQString(callback);
        const QByteArray post = "POST";
        const QString startRoute = QStringLiteral("auth/%1/start").arg(provider);
        const QByteArray startBody = json::dumpBytes(start);
        auto starting = send(post, startRoute, startBody, std::nullopt, d->timing.request);
        const QByteArray started = co_await starting;
        if (!self)
            co_return;
        QUrl page;
        QString state;
        try {
            const Json answer = json::requireObject(json::parse(started));
            page = QUrl(json::requireString(answer, "url"), QUrl::StrictMode);
            state = json::requireString(answer, "state");
        } catch (const JsonDecodeError&) {
            throw TovrickAPIError::server(QStringLiteral("invalid_response"));
        }
        if (!page.isValid() || page.scheme() != QStringLiteral("https") || state.isEmpty())
            throw TovrickAPIError::server(QStringLiteral("invalid_response"));

        d->pendingProvider = provider;
        d->pendingState = state;
        if (!openURL || !openURL(page))
            throw UserFacingError(QStringLiteral("Tovrick couldn't open the web browser for the sign-in."));
        auto arrival = qCoro(this, &TovrickAccount::signInCallbackArrived, d->timing.signInWait);
        const std::optional<QUrl> answered = co_await arrival;
        if (!self)
            co_return;
        d->pendingProvider.clear();
        d->pendingState.clear();
        if (!answered) {
            logline::info(QStringLiteral("web sign-in (%1): no answer from the browser in time").arg(provider));
            throw UserFacingError(kSignInCancelled);
        }
        const QUrlQuery query(*answered);
        const QString code = query.queryItemValue(QStringLiteral("code"), QUrl::FullyDecoded);
        if (query.hasQueryItem(QStringLiteral("error")) || code.isEmpty())
            throw UserFacingError(kSignInCancelled);

        Json finish = deviceFields(installationId());
        finish["state"] = json::fromQString(state);
        finish["code"] = json::fromQString(code);
        const QString finishRoute = QStringLiteral("auth/%1/finish").arg(provider);
        const QByteArray finishBody = json::dumpBytes(finish);
        auto finishing = send(post, finishRoute, finishBody, std::nullopt, d->timing.request);
        const QByteArray finished = co_await finishing;
        if (!self)
            co_return;
        const AccountSession session = readSession(finished);
        adoptSession(session);
        logline::info(QStringLiteral("signed in (%1)").arg(session.authMethod));
    } catch (...) {
        if (self)
            setMessage(describe(std::current_exception()));
    }
    if (!self)
        co_return;
    d->pendingProvider.clear();
    d->pendingState.clear();
    setBusy(false);
}

QCoro::Task<PairingTicket> TovrickAccount::startPairing()
{
    const QByteArray method = "POST";
    const QString route = QStringLiteral("pairing/start");
    const QByteArray body = json::dumpBytes(deviceFields(installationId()));
    auto request = send(method, route, body, std::nullopt, d->timing.request);
    const QByteArray answer = co_await request;
    try {
        co_return PairingTicket::fromJson(json::parse(answer));
    } catch (const JsonDecodeError&) {
        throw TovrickAPIError::server(QStringLiteral("invalid_response"));
    }
}

QCoro::Task<PairingPoll> TovrickAccount::pollPairing(PairingTicket ticket)
{
    const QByteArray method = "POST";
    const QString route = QStringLiteral("pairing/poll");
    const Json asked = {{"pairingId", json::fromQString(ticket.pairingId)},
                        {"pollToken", json::fromQString(ticket.pollToken)}};
    const QByteArray body = json::dumpBytes(asked);
    auto request = send(method, route, body, std::nullopt, d->timing.request);
    const QByteArray answer = co_await request;
    PairingPoll poll;
    try {
        poll = PairingPoll::fromJson(json::parse(answer));
    } catch (const JsonDecodeError&) {
        throw TovrickAPIError::server(QStringLiteral("invalid_response"));
    }
    if (poll.session && !poll.session->isValid(nowMs()))
        throw TovrickAPIError::server(QStringLiteral("invalid_session"));
    co_return poll;
}

bool TovrickAccount::isConfigured() const
{
    return d->baseOverride || TovrickConfiguration::apiBaseURL();
}

bool TovrickAccount::handleCallbackURL(const QUrl& url)
{
    if (url.scheme() != QStringLiteral("tovrick") || url.host() != QStringLiteral("auth") || d->pendingState.isEmpty()
        || url.path() != QLatin1Char('/') + d->pendingProvider) {
        logline::info(QStringLiteral("a sign-in callback matched no sign-in in progress"));
        return false;
    }
    const QString state = QUrlQuery(url).queryItemValue(QStringLiteral("state"), QUrl::FullyDecoded);
    if (state != d->pendingState) {
        logline::warning(QStringLiteral("a sign-in callback carried the wrong state; ignored"));
        return false;
    }
    emit signInCallbackArrived(url);
    return true;
}

QCoro::Task<> TovrickAccount::signOut()
{
    if (d->busy)
        co_return;
    QPointer<TovrickAccount> self(this);
    setBusy(true);
    setMessage({});
    // The user asked to leave: the local session goes whatever the service answers.
    std::exception_ptr untold;
    if (isSignedIn()) {
        const AccountSession held = *d->session;
        const QByteArray method = "DELETE";
        const QString path = QStringLiteral("devices/current");
        const std::optional<QByteArray> noBody;
        try {
            auto request = send(method, path, noBody, held.deviceToken, d->timing.request);
            co_await request;
        } catch (const TovrickAPIError& error) {
            // The service no longer knows this device: it is signed out already.
            if (error.kind() != TovrickAPIError::Kind::server || error.httpStatus() != 401)
                untold = std::current_exception();
        } catch (...) {
            untold = std::current_exception();
        }
        if (!self)
            co_return;
    }
    // A session that expired or was never valid signs nothing out on the service.
    if (d->session)
        clearSession();
    if (untold) {
        logline::info(QStringLiteral("signed out on this computer; the service was not told"));
        setMessage(QStringLiteral("Signed out on this computer. The Tovrick service could not be told: %1")
                       .arg(describe(untold)));
    } else {
        logline::info(QStringLiteral("signed out"));
    }
    setBusy(false);
}

QCoro::Task<> TovrickAccount::deleteAccount()
{
    if (d->busy)
        co_return;
    if (!isSignedIn()) {
        setMessage(TovrickAPIError::signedOut().description());
        co_return;
    }
    QPointer<TovrickAccount> self(this);
    const AccountSession held = *d->session;
    setBusy(true);
    setMessage({});
    try {
        if (prepareDeletion) {
            auto preparing = prepareDeletion(held.userId);
            co_await preparing;
        }
        if (!self)
            co_return;
        const QByteArray method = "DELETE";
        const QString route = QStringLiteral("account");
        auto request = send(method, route, std::nullopt, held.deviceToken, d->timing.request);
        co_await request;
        if (!self)
            co_return;
        if (d->session && d->session->deviceToken == held.deviceToken)
            clearSession();
        logline::info(QStringLiteral("account deleted"));
    } catch (...) {
        if (self)
            setMessage(describe(std::current_exception()));
    }
    if (self)
        setBusy(false);
}

void TovrickAccount::startAccountLoop()
{
    stopAccountLoop();
    d->loopTimer.start(d->timing.loopInterval);
    refreshAccount(d->loopGeneration);
}

void TovrickAccount::stopAccountLoop()
{
    d->loopTimer.stop();
    ++d->loopGeneration; // a refresh still on its way is dropped
}

QCoro::Task<> TovrickAccount::refreshAccount(quint64 generation)
{
    if (!isSignedIn())
        co_return;
    QPointer<TovrickAccount> self(this);
    const AccountSession held = *d->session;
    const auto stillCurrent = [&] {
        return self && d->loopGeneration == generation && d->session && d->session->deviceToken == held.deviceToken;
    };
    try {
        const QByteArray method = "GET";
        const QString route = QStringLiteral("account");
        auto request = send(method, route, std::nullopt, held.deviceToken, d->timing.request);
        const QByteArray bytes = co_await request;
        if (!stillCurrent())
            co_return;
        // The account's own fields follow the service; the device's id and token never change here.
        AccountSession updated = held;
        const Json answer = json::requireObject(json::parse(bytes));
        if (json::requireString(answer, "userId") != held.userId) {
            logline::warning(QStringLiteral("the account refresh named another user; ignored"));
            co_return;
        }
        updated.displayName = json::optionalString(answer, "displayName").value_or(held.displayName);
        if (answer.contains("email"))
            updated.email = json::optionalString(answer, "email");
        updated.authMethod = json::optionalString(answer, "authMethod").value_or(held.authMethod);
        if (answer.contains("appleUserId"))
            updated.appleUserId = json::optionalString(answer, "appleUserId");
        if (const auto expires = json::optionalNumber(answer, "expiresAt"); expires && std::isfinite(*expires))
            updated.expiresAt = *expires;
        if (!(updated == *d->session))
            adoptSession(updated);
    } catch (const TovrickAPIError& error) {
        // Only the service saying the token is no longer good ends the session; a network problem or
        // a server fault leaves it alone.
        if (stillCurrent() && error.kind() == TovrickAPIError::Kind::server && error.httpStatus() == 401) {
            logline::info(QStringLiteral("the service no longer accepts this device; signed out"));
            clearSession();
            setMessage(error.description());
        } else if (self) {
            logline::warning(QStringLiteral("account refresh failed: %1").arg(error.description()));
        }
    } catch (const NetworkError& error) {
        if (self)
            logline::warning(QStringLiteral("account refresh failed: %1").arg(error.description()));
    } catch (const JsonDecodeError&) {
        if (self)
            logline::warning(QStringLiteral("account refresh: the answer cannot be read; ignored"));
    } catch (...) {
        if (self)
            logline::warning(QStringLiteral("account refresh failed"));
    }
}
