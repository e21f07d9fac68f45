#include "Tovrick/codex/LinkHandler.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QSet>

#include <algorithm>

#include "shared/util/Xdg.h"

namespace linkhandler {

namespace {

using xdg::Groups;

QStringList listed(const Groups& groups, const char* group, const QString& key)
{
    return groups.value(QString::fromLatin1(group)).value(key).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

struct Entry {
    bool usable = false;
    QStringList mimeTypes;
};

// Every installed desktop entry by its id (its path below "applications" with "/" as "-"); the
// first folder that holds an id decides, so a hidden entry masks the same id further down.
QList<std::pair<QString, Entry>> installedEntries(const QStringList& dataFolders)
{
    QList<std::pair<QString, Entry>> entries;
    QSet<QString> seen;
    for (const QString& folder : dataFolders) {
        const QDir applications(folder + QStringLiteral("/applications"));
        QList<std::pair<QString, QString>> found; // id, path
        QDirIterator files(applications.path(), {QStringLiteral("*.desktop")}, QDir::Files,
                           QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            found.append({applications.relativeFilePath(path).replace(QLatin1Char('/'), QLatin1Char('-')), path});
        }
        std::sort(found.begin(), found.end());
        for (const auto& [id, path] : found) {
            if (seen.contains(id))
                continue;
            seen.insert(id);
            const QHash<QString, QString> keys = xdg::readKeyFile(path).value(QStringLiteral("Desktop Entry"));
            Entry entry;
            entry.usable = keys.value(QStringLiteral("Type")) == QLatin1String("Application")
                && keys.value(QStringLiteral("Hidden")) != QLatin1String("true")
                && !keys.value(QStringLiteral("Exec")).isEmpty();
            entry.mimeTypes = keys.value(QStringLiteral("MimeType")).split(QLatin1Char(';'), Qt::SkipEmptyParts);
            entries.append({id, entry});
        }
    }
    return entries;
}

} // namespace

Folders Folders::fromEnvironment()
{
    Folders folders;
    folders.config = xdg::configFolders();
    folders.data = xdg::dataFolders();
    folders.desktops = qEnvironmentVariable("XDG_CURRENT_DESKTOP").toLower().split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return folders;
}

std::optional<QString> find(const QString& scheme, const Folders& folders)
{
    const QString mimeType = QStringLiteral("x-scheme-handler/") + scheme.toLower();
    const QList<std::pair<QString, Entry>> entries = installedEntries(folders.data);
    const auto usable = [&](const QString& id) {
        const auto found = std::find_if(entries.begin(), entries.end(), [&](const auto& each) { return each.first == id; });
        return found != entries.end() && found->second.usable;
    };

    // The lists in the order they count: the user's, then the system's; in each folder the current
    // desktop's own list before the common one.
    QList<Groups> lists;
    const auto addLists = [&](const QStringList& roots, const QString& below) {
        for (const QString& root : roots) {
            for (const QString& desktop : folders.desktops)
                lists.append(xdg::readKeyFile(root + below + desktop + QStringLiteral("-mimeapps.list")));
            lists.append(xdg::readKeyFile(root + below + QStringLiteral("mimeapps.list")));
        }
    };
    addLists(folders.config, QStringLiteral("/"));
    addLists(folders.data, QStringLiteral("/applications/"));

    // A chosen default that is installed wins.
    for (const Groups& list : lists)
        for (const QString& id : listed(list, "Default Applications", mimeType))
            if (usable(id))
                return id;
    // Else an added association, unless a list that counts more removed it.
    QSet<QString> removed;
    for (const Groups& list : lists) {
        for (const QString& id : listed(list, "Added Associations", mimeType))
            if (!removed.contains(id) && usable(id))
                return id;
        for (const QString& id : listed(list, "Removed Associations", mimeType))
            removed.insert(id);
    }
    // Else any installed application that says it takes the scheme.
    for (const auto& [id, entry] : entries)
        if (entry.usable && !removed.contains(id) && entry.mimeTypes.contains(mimeType))
            return id;
    return std::nullopt;
}

} // namespace linkhandler
