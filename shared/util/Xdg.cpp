#include "shared/util/Xdg.h"

#include "shared/util/AppPaths.h"

#include <QDir>
#include <QFile>
#include <QTextStream>

namespace xdg {

namespace {

QStringList folderList(const char* variable, const QString& fallback)
{
    const QString value = qEnvironmentVariable(variable);
    QStringList folders = (value.isEmpty() ? fallback : value).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    folders.removeIf([](const QString& folder) { return !QDir::isAbsolutePath(folder); });
    return folders;
}

QString unescape(const QString& value)
{
    QString out;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const QChar next = value[++i];
        if (next == QLatin1Char('s'))
            out += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            out += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            out += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            out += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            out += QLatin1Char('\\');
        else
            out += QLatin1Char('\\') + QString(next);
    }
    return out;
}

} // namespace

QStringList dataFolders()
{
    return folderList("XDG_DATA_HOME", AppPaths::home() + QStringLiteral("/.local/share"))
        + folderList("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
}

QStringList configFolders()
{
    return folderList("XDG_CONFIG_HOME", AppPaths::home() + QStringLiteral("/.config"))
        + folderList("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
}

Groups readKeyFile(const QString& path)
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
        if (line.startsWith(QLatin1Char('['))) {
            group = line.endsWith(QLatin1Char(']')) ? line.mid(1, line.size() - 2) : QString();
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (group.isEmpty() || equals <= 0)
            continue;
        QHash<QString, QString>& keys = groups[group];
        const QString key = line.left(equals).trimmed();
        if (!keys.contains(key))
            keys.insert(key, unescape(line.mid(equals + 1).trimmed()));
    }
    return groups;
}

} // namespace xdg
