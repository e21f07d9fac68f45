#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

// Small MPEG-4 audio files for the tests: made from known bytes, or encoded by GStreamer.
namespace fixtures {

struct Mp4Layout {
    std::uint32_t movieTimescale = 1000;
    std::uint64_t movieDuration = 0;
    std::uint32_t mediaTimescale = 44100;
    std::optional<std::uint64_t> mediaDuration; // none writes the "unknown" marker
    std::uint64_t trackDuration = 0;            // in the movie's time scale
    bool version1 = false;
    bool videoTrackFirst = false;
    bool soundTrack = true;
    bool movieFirst = false;
    qsizetype mediaBytes = 64; // size of the media data box's payload
};

// A well-formed file with an ftyp, an mdat and a moov holding one sound track as the layout describes.
QByteArray mp4(const Mp4Layout& layout);
// A file whose sound track lasts `seconds` (media time scale 1000), padded to about `totalBytes`.
QByteArray mp4Lasting(double seconds, qsizetype totalBytes = 2000);

// Encodes a sine tone of `buffers` × 1024 samples at 44.1 kHz as AAC in MPEG-4 with gst-launch-1.0.
// Returns false when GStreamer or its AAC encoder is not installed.
bool encodeTone(const QString& path, int buffers);

bool writeFile(const QString& path, const QByteArray& bytes);

} // namespace fixtures
