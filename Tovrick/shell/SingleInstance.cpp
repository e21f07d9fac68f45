#include "Tovrick/shell/SingleInstance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <optional>

#include "Tovrick/shell/CommandLine.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Log.h"

namespace {

// A few arguments in one line; anything longer is not a start of this program.
constexpr qsizetype kMaximumLine = 16 * 1024;
constexpr int kReadLimitMs = 5000;

// Only what a start of the program would run with is taken: no help, no checks, nothing unknown.
std::optional<QStringList> acceptedArguments(const QByteArray& line)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QStringList arguments;
    for (const QJsonValue& value : document.array()) {
        if (!value.isString())
            return std::nullopt;
        arguments.append(value.toString());
    }
    const CommandLine parsed = CommandLine::parse(QStringList {QStringLiteral("tovrick")} + arguments);
    if (parsed.action != CommandLine::Action::run || !parsed.check.isEmpty())
        return std::nullopt;
    return arguments;
}

} // namespace

QString SingleInstance::defaultFolder()
{
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFileInfo(runtime).isDir() ? runtime : AppPaths::appFolder();
}

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), m_folder(std::move(folder)) {}

SingleInstance::~SingleInstance()
{
    if (m_server)
        m_server->close();
}

QString SingleInstance::socketPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tovrick.socket"));
}

QString SingleInstance::lockPath() const
{
    return QDir(m_folder).filePath(QStringLiteral("tovrick.lock"));
}

bool SingleInstance::claim(std::function<void(const QStringList&)> onArguments)
{
    if (m_server)
        return true;
    auto lock = std::make_unique<QLockFile>(lockPath());
    // Only a lock whose process is gone is stale, however old it is.
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0)) {
        if (lock->error() != QLockFile::LockFailedError) {
            // No folder to lock in: better two copies than none.
            logline::warning(QStringLiteral("the one-instance lock cannot be taken in %1").arg(m_folder));
        } else {
            return false;
        }
    } else {
        m_lock = std::move(lock);
    }
    QLocalServer::removeServer(socketPath()); // left by a run that crashed: we hold the lock now
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server->listen(socketPath())) {
        logline::warning(QStringLiteral("later starts cannot reach this one: %1").arg(server->errorString()));
        delete server;
        return true; // still the one instance: it holds the lock
    }
    m_server = server;
    m_onArguments = std::move(onArguments);
    connect(server, &QLocalServer::newConnection, this, &SingleInstance::accept);
    return true;
}

void SingleInstance::accept()
{
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
            const QByteArray line = socket->readLine(kMaximumLine + 1).trimmed();
            disconnect(socket, &QIODevice::readyRead, this, nullptr);
            const auto arguments = acceptedArguments(line);
            socket->write(arguments ? "ok\n" : "refused\n");
            socket->flush();
            socket->disconnectFromServer();
            if (arguments && m_onArguments)
                m_onArguments(*arguments);
        });
    }
}

bool SingleInstance::handOver(const QStringList& arguments, int timeoutMs) const
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath());
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            break;
        socket.abort();
        if (deadline.hasExpired())
            return false;
        QThread::msleep(100); // the running one may still be starting
    }
    const QByteArray line = QJsonDocument(QJsonArray::fromStringList(arguments)).toJson(QJsonDocument::Compact) + '\n';
    socket.write(line);
    if (!socket.waitForBytesWritten(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
        return false;
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(static_cast<int>(std::max<qint64>(deadline.remainingTime(), 1))))
            return false;
    }
    return socket.readLine().trimmed() == "ok";
}
