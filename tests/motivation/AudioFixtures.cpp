#include "AudioFixtures.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>

namespace fixtures {
namespace {

void be(QByteArray& out, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xFF));
}

QByteArray box(const char* type, const QByteArray& payload)
{
    QByteArray out;
    be(out, std::uint64_t(8 + payload.size()), 4);
    out.append(type, 4);
    return out + payload;
}

QByteArray versioned(bool version1)
{
    QByteArray out;
    be(out, version1 ? 1 : 0, 1);
    be(out, 0, 3);
    return out;
}

// mvhd and mdhd share their leading fields.
QByteArray timing(bool version1, std::uint32_t timescale, std::optional<std::uint64_t> duration)
{
    QByteArray out = versioned(version1);
    const int wide = version1 ? 8 : 4;
    be(out, 0, wide); // created
    be(out, 0, wide); // modified
    be(out, timescale, 4);
    be(out, duration.value_or(version1 ? ~std::uint64_t(0) : 0xFFFFFFFFu), wide);
    return out;
}

QByteArray track(const Mp4Layout& layout, const char* handler)
{
    QByteArray tkhd = versioned(layout.version1);
    const int wide = layout.version1 ? 8 : 4;
    be(tkhd, 0, wide);
    be(tkhd, 0, wide);
    be(tkhd, 1, 4); // track id
    be(tkhd, 0, 4);
    be(tkhd, layout.trackDuration, wide);
    tkhd.append(QByteArray(60, '\0'));

    QByteArray mdhd = timing(layout.version1, layout.mediaTimescale, layout.mediaDuration);
    be(mdhd, 0x55C4, 2);
    be(mdhd, 0, 2);

    QByteArray hdlr = versioned(false);
    be(hdlr, 0, 4);
    hdlr.append(handler, 4);
    hdlr.append(QByteArray(12, '\0'));
    hdlr.append("Sound\0", 6);

    return box("trak", box("tkhd", tkhd) + box("mdia", box("mdhd", mdhd) + box("hdlr", hdlr)));
}

} // namespace

QByteArray mp4(const Mp4Layout& layout)
{
    QByteArray ftyp;
    ftyp.append("M4A ", 4);
    be(ftyp, 0, 4);
    ftyp.append("M4A mp42isom", 12);

    QByteArray mvhd = timing(layout.version1, layout.movieTimescale, layout.movieDuration);
    mvhd.append(QByteArray(80, '\0'));
    QByteArray moovPayload = box("mvhd", mvhd);
    if (layout.videoTrackFirst) {
        Mp4Layout video = layout;
        video.mediaDuration = 1;
        moovPayload += track(video, "vide");
    }
    if (layout.soundTrack)
        moovPayload += track(layout, "soun");
    const QByteArray moov = box("moov", moovPayload);
    const QByteArray mdat = box("mdat", QByteArray(layout.mediaBytes, '\x5A'));
    return box("ftyp", ftyp) + (layout.movieFirst ? moov + mdat : mdat + moov);
}

QByteArray mp4Lasting(double seconds, qsizetype totalBytes)
{
    Mp4Layout layout;
    layout.mediaTimescale = 1000;
    layout.mediaDuration = std::uint64_t(std::llround(seconds * 1000));
    layout.movieDuration = *layout.mediaDuration;
    layout.trackDuration = *layout.mediaDuration;
    const qsizetype bare = mp4(layout).size() - layout.mediaBytes;
    layout.mediaBytes = std::max<qsizetype>(0, totalBytes - bare);
    return mp4(layout);
}

bool encodeTone(const QString& path, int buffers)
{
    const QString gst = QStandardPaths::findExecutable(QStringLiteral("gst-launch-1.0"));
    if (gst.isEmpty())
        return false;
    QProcess process;
    process.start(gst, { QStringLiteral("-q"), QStringLiteral("audiotestsrc"),
                         QStringLiteral("num-buffers=%1").arg(buffers), QStringLiteral("!"),
                         QStringLiteral("audioconvert"), QStringLiteral("!"), QStringLiteral("voaacenc"),
                         QStringLiteral("!"), QStringLiteral("mp4mux"), QStringLiteral("!"),
                         QStringLiteral("filesink"), QStringLiteral("location=") + path });
    if (!process.waitForFinished(30000))
        return false;
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0 && QFile::exists(path);
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

} // namespace fixtures
