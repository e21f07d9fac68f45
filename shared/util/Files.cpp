#include "shared/util/Files.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <chrono>

namespace files {

namespace {

// Long enough that no save of ours is still writing its temporary file.
constexpr std::chrono::seconds kStaleAfter {60};

} // namespace

int removeStaleTemporaries(const QString& folder, const QStringList& names)
{
    // The atomic write's temporary is the final name and a dot and six letters or digits.
    QStringList patterns;
    for (const QString& name : names)
        patterns.append(QRegularExpression::escape(name).replace(QStringLiteral("\\*"), QStringLiteral(".*")));
    const QRegularExpression temporary(
        QStringLiteral("^(?:%1)\\.[A-Za-z0-9]{6}$").arg(patterns.join(QLatin1Char('|'))));
    const QDateTime staleBefore = QDateTime::currentDateTimeUtc().addSecs(-kStaleAfter.count());
    int removed = 0;
    const QFileInfoList entries = QDir(folder).entryInfoList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& entry : entries) {
        const QString name = entry.fileName();
        if (!temporary.match(name).hasMatch())
            continue;
        if (entry.lastModified() > staleBefore)
            continue;
        removed += QFile::remove(entry.filePath()) ? 1 : 0;
    }
    return removed;
}

std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes, bool privateFile)
{
    const QFileInfo target(path);
    removeStaleTemporaries(target.absolutePath(), {target.fileName()});
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
