#pragma once

#include <QString>
#include <QStringList>

// The typefaces the report card asks for by name (Fredoka, IBM Plex Sans and Mono) are not Debian
// packages: scripts/install-deps fetches them into a cache folder, and the program registers what
// it finds there at start. Nothing is fetched at run time; a missing or unreadable font file is
// skipped, and the windows fall back to installed families.
namespace appFonts {

// "${XDG_CACHE_HOME:-~/.cache}/tovrick/fonts".
QString defaultFolder();

// Registers every font file (.ttf, .otf, .woff, .woff2) in `folder` with the application.
// Returns the families that became available; empty when the folder is missing.
QStringList registerFolder(const QString& folder = defaultFolder());

} // namespace appFonts
