#include "shared/ui/LocalOnlyNetwork.h"

#include "shared/util/Log.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QQmlEngine>
#include <QQmlNetworkAccessManagerFactory>
#include <QTimer>
#include <QUrl>

namespace {

// Fails at once, the way a reply that could not connect fails, so image and loader elements show
// their error state.
class RefusedReply : public QNetworkReply {
public:
    RefusedReply(QNetworkAccessManager::Operation operation, const QNetworkRequest& request, QObject* parent)
        : QNetworkReply(parent)
    {
        setOperation(operation);
        setRequest(request);
        setUrl(request.url());
        setError(ContentAccessDenied, QStringLiteral("Windows load only local files."));
        QNetworkReply::open(QIODevice::ReadOnly);
        setFinished(true);
        // Those who asked connect after this returns.
        QTimer::singleShot(0, this, [this] {
            emit errorOccurred(ContentAccessDenied);
            emit finished();
        });
    }

    void abort() override {}

protected:
    qint64 readData(char*, qint64) override { return -1; }
};

class LocalOnlyManager : public QNetworkAccessManager {
public:
    using QNetworkAccessManager::QNetworkAccessManager;

protected:
    QNetworkReply* createRequest(Operation operation, const QNetworkRequest& request,
                                 QIODevice* outgoingData) override
    {
        if (localOnlyNetwork::allows(request.url()))
            return QNetworkAccessManager::createRequest(operation, request, outgoingData);
        logline::warning(QStringLiteral("a window asked for %1://%2; refused")
                             .arg(request.url().scheme(), request.url().host()));
        return new RefusedReply(operation, request, this);
    }
};

// Stateless, so the engines' loader threads may share it.
class LocalOnlyFactory : public QQmlNetworkAccessManagerFactory {
public:
    QNetworkAccessManager* create(QObject* parent) override { return new LocalOnlyManager(parent); }
};

} // namespace

bool localOnlyNetwork::allows(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("qrc") || scheme == QLatin1String("data")
        || (scheme == QLatin1String("file") && (url.host().isEmpty() || url.host() == QLatin1String("localhost")));
}

void localOnlyNetwork::install(QQmlEngine& engine)
{
    // Outlives every engine: the engine does not own its factory.
    static LocalOnlyFactory factory;
    engine.setNetworkAccessManagerFactory(&factory);
}
