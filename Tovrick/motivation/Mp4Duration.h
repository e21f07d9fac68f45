#pragma once

#include <QByteArray>
#include <QString>

// The length of the audio in an MPEG-4 file (.m4a), read from its movie header and its first sound
// track, without decoding anything.
namespace mp4 {

// Seconds of the first sound track: its media header's duration, else its track header's, else the
// movie's. 0 when the file states no length. Throws MotivationFileError when the file cannot be read
// or holds no complete movie with a sound track.
double audioDuration(const QString& path);

// The same, for a whole file already in memory.
double audioDuration(const QByteArray& bytes, const QString& nameForErrors);

} // namespace mp4
