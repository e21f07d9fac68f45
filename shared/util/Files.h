#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace files {

// Writes `bytes` to `path` atomically (a temporary file renamed into place), so readers see the old
// or the new contents, never a mix. With `privateFile` the file gets mode 0600. Returns the error
// text on failure; the old file is then untouched.
std::optional<QString> writeAtomically(const QString& path, const QByteArray& bytes, bool privateFile);

// Keeps a copy of a file that could not be decoded, as `path` + ".bad", before anything overwrites it.
// An earlier copy is replaced. Returns false when no copy could be made.
bool keepUnreadableCopy(const QString& path);

// Reads a whole file; none when it does not exist or cannot be read.
std::optional<QByteArray> read(const QString& path);

} // namespace files
