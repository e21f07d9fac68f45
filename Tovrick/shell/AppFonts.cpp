#include "Tovrick/shell/AppFonts.h"

#include <QDir>
#include <QFontDatabase>
#include <QStandardPaths>

#include "shared/util/Log.h"

namespace appFonts {

QString defaultFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation))
        .filePath(QStringLiteral("tovrick/fonts"));
}

QStringList registerFolder(const QString& folder)
{
    QStringList families;
    const QDir dir(folder);
    if (folder.isEmpty() || !dir.exists())
        return families;
    const QStringList patterns {QStringLiteral("*.ttf"), QStringLiteral("*.otf"), QStringLiteral("*.woff"),
                                QStringLiteral("*.woff2")};
    for (const QString& name : dir.entryList(patterns, QDir::Files | QDir::Readable, QDir::Name)) {
        const int id = QFontDatabase::addApplicationFont(dir.filePath(name));
        if (id < 0) {
            logline::info(QStringLiteral("font %1 could not be read; skipped").arg(name));
            continue;
        }
        for (const QString& family : QFontDatabase::applicationFontFamilies(id))
            if (!families.contains(family))
                families.append(family);
    }
    return families;
}

} // namespace appFonts
