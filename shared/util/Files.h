#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace files {

// Writes `bytes` to `path` atomically (a temporary file renamed into place), so readers see the old
// or the new contents, never a mix. With `privateFile` the file gets mode 0600. Returns the error
// text on failure; the old file is then untouched. Stale temporaries of `path` go first.
std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes, bool privateFile);

// Removes what killed atomic writes left beside the files named `names` (wildcards allowed) in
// `folder`: their temporary files ("<name>.XXXXXX") untouched for a minute, so a save under way in
// another process keeps its own. Returns how many were removed.
int removeStaleTemporaries(const QString& folder, const QStringList& names);

// Keeps a copy of a file that could not be decoded, as `path` + ".bad", before anything overwrites it.
// An earlier copy is replaced. Returns false when no copy could be made.
bool keepUnreadableCopy(const QString& path);

// Reads a whole file; none when it does not exist or cannot be read.
std::optional<QByteArray> read(const QString& path);

} // namespace files
