#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// The XDG base folders and key files (desktop entries, mimeapps.list), read as the desktop reads them.
namespace xdg {

// $XDG_DATA_HOME then $XDG_DATA_DIRS, and $XDG_CONFIG_HOME then $XDG_CONFIG_DIRS, each with its
// default when unset or empty; most important first. Relative paths are no folders.
QStringList dataFolders();
QStringList configFolders();

// Each [group] of a key file and its keys; a key's first value counts, with the format's string
// escapes undone. Empty when the file cannot be read.
using Groups = QHash<QString, QHash<QString, QString>>;
Groups readKeyFile(const QString& path);

} // namespace xdg
