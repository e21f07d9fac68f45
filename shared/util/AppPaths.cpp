#include "shared/util/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace {

QString& overriddenRoot()
{
    static QString root;
    return root;
}

QString under(const QString& name)
{
    const QString path = QDir(overriddenRoot()).filePath(name);
    QDir().mkpath(path);
    return path;
}

} // namespace

void AppPaths::overrideRoot(const QString& root)
{
    overriddenRoot() = root;
}

QString AppPaths::appFolder()
{
    const QString base = overriddenRoot().isEmpty()
        ? QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
        : QDir(overriddenRoot()).filePath(QStringLiteral("data"));
    const QString folder = QDir(base).filePath(QStringLiteral("Tovrick"));
    return ensurePrivateFolder(folder) ? folder : QString();
}

QString AppPaths::documents()
{
    if (!overriddenRoot().isEmpty())
        return under(QStringLiteral("Documents"));
    const QString docs = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return docs.isEmpty() ? QDir(home()).filePath(QStringLiteral("Documents")) : docs;
}

QString AppPaths::home()
{
    if (!overriddenRoot().isEmpty())
        return under(QStringLiteral("home"));
    return QDir::homePath();
}

QString AppPaths::temporary()
{
    if (!overriddenRoot().isEmpty())
        return under(QStringLiteral("tmp"));
    return QDir::tempPath();
}

QString AppPaths::privateTemporary()
{
    QString base;
    if (!overriddenRoot().isEmpty()) {
        base = QDir(overriddenRoot()).filePath(QStringLiteral("runtime"));
    } else {
        // The runtime folder only when it is the user's own, as the XDG base-directory rules require; the
        // shared temporary folder never.
        const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
        const QFileInfo info(runtime);
        if (!runtime.isEmpty() && info.isAbsolute() && info.isDir() && info.ownerId() == ::getuid())
            base = runtime;
        else
            base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    }
    if (base.isEmpty())
        return {};
    const QString folder = QDir(base).filePath(QStringLiteral("Tovrick"));
    return ensurePrivateFolder(folder) ? folder : QString();
}

bool AppPaths::ensurePrivateFolder(const QString& path)
{
    if (path.isEmpty() || !QDir().mkpath(path))
        return false;
    return QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                     | QFileDevice::ExeOwner | QFileDevice::ReadUser
                                     | QFileDevice::WriteUser | QFileDevice::ExeUser);
}
