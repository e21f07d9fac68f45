#include "Tovrick/codex/LinkHandler.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QTextStream>

#include <algorithm>

#include "shared/util/AppPaths.h"

namespace linkhandler {

namespace {

using Groups = QHash<QString, QHash<QString, QString>>;

// The keys of each [group] of a desktop entry or mimeapps.list; a key's first value counts.
Groups readGroups(const QString& path)
{
    Groups groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return groups;
    QTextStream in(&file);
    QString group;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (group.isEmpty() || equals <= 0)
            continue;
        QHash<QString, QString>& keys = groups[group];
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, line.mid(equals + 1).trimmed());
    }
    return groups;
}

QStringList listed(const Groups& groups, const char* group, const QString& key)
{
    return groups.value(QString::fromLatin1(group)).value(key).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// An absolute folder list from the environment, or its default when unset or empty.
QStringList folderList(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    QStringList folders = (value.isEmpty() ? fallback : value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.removeIf([](const QString& folder) { return !QDir::isAbsolutePath(folder); });
    return folders;
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
            const QHash<QString, QString> keys = readGroups(path).value(QStringLiteral("Desktop Entry"));
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
    const QString home = AppPaths::home();
    Folders folders;
    folders.config = folderList("XDG_CONFIG_HOME", home + QStringLiteral("/.config"))
        + folderList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    folders.data = folderList("XDG_DATA_HOME", home + QStringLiteral("/.local/share"))
        + folderList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
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
                lists.append(readGroups(root + below + desktop + QStringLiteral("-mimeapps.list")));
            lists.append(readGroups(root + below + QStringLiteral("mimeapps.list")));
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
