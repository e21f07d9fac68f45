#include "Tovrick/shell/StatusFile.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDir>
#include <QFileInfo>

#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Log.h"

namespace {

QByteArray word(bool granted)
{
    return granted ? QByteArrayLiteral("granted") : QByteArrayLiteral("denied");
}

} // namespace

QString StatusFile::defaultPath()
{
    const QString appFolder = AppPaths::appFolder();
    if (appFolder.isEmpty())
        return {};
    return QFileInfo(appFolder).dir().filePath(QStringLiteral("Fennow/status.txt"));
}

StatusFile::Permissions StatusFile::probeDesktop()
{
    Permissions permissions;
    permissions.screen = ScreenCaptureAccess::shared().preflight();
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
    if (const auto error = files::writeAtomically(m_path, render(permissions, QDateTime::currentDateTimeUtc()), false))
        return fail(*error);
    m_failing = false;
    return true;
}
