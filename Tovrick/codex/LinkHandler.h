#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Which application the desktop opens a link scheme with ("codex://…"), read from its XDG defaults
// (the mimeapps.list files and the installed desktop entries), as the desktop's own opener looks.
namespace linkhandler {

struct Folders {
    QStringList config;   // $XDG_CONFIG_HOME, then $XDG_CONFIG_DIRS
    QStringList data;     // $XDG_DATA_HOME, then $XDG_DATA_DIRS
    QStringList desktops; // $XDG_CURRENT_DESKTOP, lower-cased

    static Folders fromEnvironment();
};

// The id of the installed desktop entry ("org.example.App.desktop") that opens `scheme` links, or
// none when no application does.
std::optional<QString> find(const QString& scheme, const Folders& folders = Folders::fromEnvironment());

} // namespace linkhandler
