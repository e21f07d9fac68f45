#include "shared/util/Files.h"

#include <QFile>
#include <QSaveFile>

namespace files {

std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes, bool privateFile)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    if (privateFile
        && !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                | QFileDevice::ReadUser | QFileDevice::WriteUser)) {
        file.cancelWriting();
        return QStringLiteral("could not make the file private");
    }
    if (file.write(bytes) != bytes.size()) {
        const QString error = file.errorString();
        file.cancelWriting();
        return error;
    }
    if (!file.commit())
        return file.errorString();
    return std::nullopt;
}

bool keepUnreadableCopy(const QString& path)
{
    const QString copy = path + QStringLiteral(".bad");
    if (QFile::exists(copy))
        QFile::remove(copy);
    return QFile::copy(path, copy);
}

std::optional<QByteArray> read(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace files
