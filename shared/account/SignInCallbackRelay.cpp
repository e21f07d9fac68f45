#include "shared/account/SignInCallbackRelay.h"

#include <QDir>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "shared/util/AppPaths.h"
#include "shared/util/Log.h"

namespace {

// A callback URL is short; anything longer is not one of ours.
constexpr qsizetype kMaximumLine = 8 * 1024;
constexpr int kReadLimitMs = 5000;

bool isCallback(const QUrl& url)
{
    return url.isValid() && url.scheme() == QStringLiteral("tovrick");
}

} // namespace

QString SignInCallbackRelay::defaultSocketPath()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString folder = !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : AppPaths::appFolder();
    return QDir(folder).filePath(QStringLiteral("tovrick-signin.socket"));
}

QUrl SignInCallbackRelay::callbackArgument(const QStringList& arguments)
{
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QUrl url(arguments[i], QUrl::StrictMode);
        if (arguments[i].startsWith(QStringLiteral("tovrick:")) && isCallback(url))
            return url;
    }
    return {};
}

bool SignInCallbackRelay::handOver(const QUrl& url, const QString& socketPath, int timeoutMs)
{
    if (!isCallback(url))
        return false;
    QLocalSocket socket;
    socket.connectToServer(socketPath);
    if (!socket.waitForConnected(timeoutMs))
        return false;
    socket.write(url.toEncoded() + '\n');
    if (!socket.waitForBytesWritten(timeoutMs))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(timeoutMs))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}

SignInCallbackRelay::SignInCallbackRelay(QObject* parent) : QObject(parent) {}

SignInCallbackRelay::~SignInCallbackRelay() = default;

bool SignInCallbackRelay::listen(std::function<void(const QUrl&)> onURL, const QString& socketPath)
{
    if (m_server)
        return true;
    {
        QLocalSocket probe;
        probe.connectToServer(socketPath);
        if (probe.waitForConnected(500)) {
            logline::warning(QStringLiteral("another Tovrick is running; sign-in callbacks go to it"));
            return false;
        }
    }
    QLocalServer::removeServer(socketPath); // a socket file left by a run that crashed
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath)) {
        logline::warning(QStringLiteral("sign-in callbacks cannot be received: %1").arg(server->errorString()));
        delete server;
        return false;
    }
    m_server = server;
    m_onURL = std::move(onURL);
    connect(server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            // A peer that connects and says nothing is dropped.
            QTimer::singleShot(kReadLimitMs, socket, [socket] { socket->abort(); });
            connect(socket, &QIODevice::readyRead, this, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > kMaximumLine)
                        socket->abort();
                    return;
                }
                const QUrl url(QString::fromUtf8(socket->readLine(kMaximumLine + 1).trimmed()), QUrl::StrictMode);
                disconnect(socket, &QIODevice::readyRead, this, nullptr);
                if (!isCallback(url)) {
                    socket->write("refused\n");
                    socket->disconnectFromServer();
                    return;
                }
                socket->write("ok\n");
                socket->flush();
                socket->disconnectFromServer();
                if (m_onURL)
                    m_onURL(url);
            });
        }
    });
    return true;
}
