#include "Tovrick/shell/StatusFile.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Log.h"

namespace {

QByteArray word(bool granted)
{
    return granted ? QByteArrayLiteral("granted") : QByteArrayLiteral("denied");
}

// Replaces the file whole, as a temporary renamed into place, but never waits for the disk: a status
// file lost in a power cut is harmless, and a flush every few seconds keeps a laptop's disk awake.
std::optional<QString> replaceWithoutFlush(const QString& path, const QByteArray& bytes)
{
    QTemporaryFile file(path + QStringLiteral(".XXXXXX"));
    if (!file.open())
        return file.errorString();
    const QString temporary = file.fileName(); // asked while open, so that the file has a name to rename
    // Readable by scripts of other users, as a plain file would be.
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser
                        | QFileDevice::WriteUser | QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (file.write(bytes) != bytes.size() || !file.flush())
        return file.errorString();
    if (std::rename(QFile::encodeName(temporary).constData(), QFile::encodeName(path).constData()) != 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    file.setAutoRemove(false);
    return std::nullopt;
}

} // namespace

QString StatusFile::defaultPath()
{
    const QString appFolder = AppPaths::appFolder();
    if (appFolder.isEmpty())
        return {};
    return QFileInfo(appFolder).dir().filePath(QStringLiteral("Fennow/status.txt"));
}

StatusFile::Permissions StatusFile::probeDesktop(const ScreenCaptureAccess& access)
{
    Permissions permissions;
    permissions.screen = access.preflight();
    // The bus daemon answers this itself: no other process can keep it waiting.
    const QDBusConnection bus = QDBusConnection::sessionBus();
    permissions.accessibility = bus.isConnected() && bus.interface()
        && bus.interface()->isServiceRegistered(QStringLiteral("org.a11y.Bus")).value();
    return permissions;
}

QByteArray StatusFile::render(const Permissions& permissions, const QDateTime& at)
{
    return "screen=" + word(permissions.screen) + "\naccessibility=" + word(permissions.accessibility)
        + "\nupdated=" + at.toUTC().toString(Qt::ISODate).toUtf8() + "\n";
}

StatusFile::StatusFile(QString path, QObject* parent) : QObject(parent), m_path(std::move(path))
{
    connect(&m_timer, &QTimer::timeout, this, [this] { writeNow(); });
}

void StatusFile::start(int intervalMs)
{
    if (!m_path.isEmpty())
        files::removeStaleTemporaries(QFileInfo(m_path).absolutePath(), {QFileInfo(m_path).fileName()});
    writeNow();
    m_timer.start(intervalMs);
}

bool StatusFile::writeNow()
{
    const auto fail = [this](const QString& why) {
        if (!m_failing)
            logline::warning(QStringLiteral("the status file cannot be written: %1").arg(why));
        m_failing = true;
        return false;
    };
    if (m_path.isEmpty())
        return fail(QStringLiteral("no data folder"));
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!AppPaths::ensurePrivateFolder(folder))
        return fail(folder);
    const Permissions permissions = probe ? probe() : Permissions {};
    if (const auto error = replaceWithoutFlush(m_path, render(permissions, QDateTime::currentDateTimeUtc())))
        return fail(*error);
    m_failing = false;
    return true;
}
