#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>
#include <cstdint>
#include <optional>

#include "shared/util/Files.h"

// MPEG-4 audio files for the tests: built from known header fields, or encoded by GStreamer.
namespace fixtures {

inline void be(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

inline QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray out;
    be(out, std::uint64_t(8 + payload.size()), 4);
    return out + QByteArray(type, 4) + payload;
}

// mvhd, tkhd and mdhd open alike: version, two dates, some 32-bit fields, then a length.
inline QByteArray header(bool v1, std::initializer_list<std::uint32_t> fields, std::optional<std::uint64_t> length)
{
    QByteArray out;
    be(out, v1 ? 0x01000000 : 0, 4);
    out.append(QByteArray(v1 ? 16 : 8, '\0'));
    for (std::uint32_t field : fields)
        be(out, field, 4);
    be(out, length.value_or(~std::uint64_t(0)), v1 ? 8 : 4);
    return out;
}

struct Mp4 {
    bool v1 = false;
    std::uint32_t mediaScale = 1000;
    std::optional<std::uint64_t> mediaDuration = 1000; // none writes the "unknown" marker
    std::uint64_t trackDuration = 0, movieDuration = 0; // in the movie's scale of 1000
    QByteArrayList handlers { "soun" };
    qsizetype mediaBytes = 64;
};

// ftyp, mdat, then moov, as a muxer that knows the length only at the end writes them.
inline QByteArray mp4(const Mp4& m)
{
    QByteArray movie = box("mvhd", header(m.v1, { 1000 }, m.movieDuration));
    for (const QByteArray& handler : m.handlers) {
        // Other tracks last 1 ms, so taking one of them instead shows.
        const auto media = handler == "soun" ? m.mediaDuration : std::optional<std::uint64_t>(1);
        movie += box("trak", box("tkhd", header(m.v1, { 1, 0 }, m.trackDuration))
                                 + box("mdia", box("mdhd", header(m.v1, { m.mediaScale }, media))
                                                   + box("hdlr", QByteArray(8, '\0') + handler)));
    }
    return box("ftyp", QByteArray("M4A \0\0\0\0mp42", 12)) + box("mdat", QByteArray(m.mediaBytes, 'Z'))
        + box("moov", movie);
}

// A sound track of `seconds`, padded to `totalBytes`.
inline QByteArray mp4Lasting(double seconds, qsizetype totalBytes = 2000)
{
    Mp4 m;
    m.mediaDuration = std::uint64_t(std::llround(seconds * 1000));
    m.mediaBytes = 0;
    m.mediaBytes = totalBytes - mp4(m).size();
    return mp4(m);
}

// A sine tone of `buffers` × 1024 samples at 44.1 kHz as AAC; false without GStreamer's encoder.
inline bool encodeTone(const QString& path, int buffers)
{
    const QString gst = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (gst.isEmpty())
        return false;
    QProcess process;
    process.start(gst, QStringLiteral("-q audiotestsrc num-buffers=%1 ! audioconvert ! voaacenc ! mp4mux ! filesink")
                           .arg(buffers).split(u' ') << QStringLiteral("location=") + path);
    return process.waitForFinished(30000) && process.exitStatus() == QProcess::NormalExit
        && process.exitCode() == 0 && QFile::exists(path);
}

inline bool writeFile(const QString& path, const QByteArray& bytes)
{
    return !files::writeAtomically(path, bytes, false);
}

} // namespace fixtures
