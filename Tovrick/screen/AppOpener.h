#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Brings an application forward by name: a running one from the window manager's client list, else
// the desktop entry of an installed one from the XDG application folders.
namespace appopener {

// One launchable application of an XDG application folder.
struct DesktopEntry {
    QString path;
    QString name;
    QString exec;
    QString icon;
    QString workingDirectory;
};

// The "applications" folders of $XDG_DATA_HOME and $XDG_DATA_DIRS (with their defaults), most
// important first.
QStringList applicationFolders();
// The first visible application entry whose Name or file name (without ".desktop") is `name`,
// letter case aside.
std::optional<DesktopEntry> findEntry(const QString& name, const QStringList& folders);
// The program and its arguments from the entry's Exec line: quoting undone, field codes for files
// and addresses dropped, %i, %c, %k filled in. Empty when the line cannot be read.
QStringList commandLine(const DesktopEntry& entry);

// Raises the client window whose class, instance or title is `name` (letter case aside). False when
// no window matches.
bool switchToRunning(const QString& name);
// Starts the entry's program on its own; false when it cannot start.
bool launch(const DesktopEntry& entry);

// One sentence for what happened: switched, opened, could not open, no app of that name.
QString open(const QString& name);

} // namespace appopener
