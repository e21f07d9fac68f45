#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "AudioFixtures.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/Mp4Duration.h"

using fixtures::Mp4Layout;

namespace {

double durationOf(const QByteArray& bytes)
{
    return mp4::audioDuration(bytes, QStringLiteral("clip.m4a"));
}

} // namespace

TEST(Mp4Duration, ReadsTheSoundTrackInEveryLayout)
{
    struct Case {
        const char* name;
        Mp4Layout layout;
        double seconds;
    };
    Mp4Layout plain;
    plain.mediaDuration = 88200;
    Mp4Layout wide = plain;
    wide.version1 = true;
    Mp4Layout videoFirst = plain;
    videoFirst.videoTrackFirst = true;
    Mp4Layout movieFirst = plain;
    movieFirst.movieFirst = true;
    Mp4Layout unknownMedia;
    unknownMedia.mediaDuration = std::nullopt;
    unknownMedia.trackDuration = 3500;
    Mp4Layout unknownBoth;
    unknownBoth.mediaDuration = std::nullopt;
    unknownBoth.movieDuration = 1250;
    Mp4Layout zeroScale;
    zeroScale.mediaTimescale = 0;
    zeroScale.mediaDuration = 10;
    zeroScale.trackDuration = 700;
    Mp4Layout exact;
    exact.mediaTimescale = 1000;
    exact.mediaDuration = 20100;

    const Case cases[] = {
        { "version 0 headers", plain, 2.0 },
        { "version 1 headers", wide, 2.0 },
        { "a video track before the sound", videoFirst, 2.0 },
        { "movie before media data", movieFirst, 2.0 },
        { "unknown media length: the track's", unknownMedia, 3.5 },
        { "unknown media and track length: the movie's", unknownBoth, 1.25 },
        { "media time scale 0: the track's", zeroScale, 0.7 },
        { "20.1 s exactly", exact, 20.1 },
    };
    for (const Case& c : cases)
        EXPECT_EQ(durationOf(fixtures::mp4(c.layout)), c.seconds) << c.name;
}

TEST(Mp4Duration, LargeAndOpenEndedBoxesAreFollowed)
{
    Mp4Layout layout;
    layout.mediaDuration = 44100;
    layout.movieFirst = true;
    QByteArray bytes = fixtures::mp4(layout);
    // A trailing media box with a 64-bit size, then one that runs to the end of the file (size 0).
    QByteArray large;
    for (int b : std::initializer_list<int> { 0, 0, 0, 1, 'm', 'd', 'a', 't', 0, 0, 0, 0, 0, 0, 0, 20, 1, 2, 3, 4 })
        large.append(char(b));
    QByteArray open;
    for (int b : std::initializer_list<int> { 0, 0, 0, 0, 'f', 'r', 'e', 'e', 9, 9 })
        open.append(char(b));
    EXPECT_EQ(durationOf(bytes + large + open), 1.0);
}

TEST(Mp4Duration, MalformedFilesAreRefusedWithoutCrashing)
{
    Mp4Layout noSound;
    noSound.soundTrack = false;
    Mp4Layout layout;
    layout.mediaDuration = 44100;
    const QByteArray good = fixtures::mp4(layout);

    QByteArray oversized = good;
    oversized[3] = char(0x7F); // ftyp claims more bytes than the file has

    const QByteArray refused[] = {
        QByteArray(),
        QByteArray("RIFF....WAVEfmt "),
        fixtures::mp4(noSound),
        oversized,
        good.left(good.size() - 1),
    };
    for (const QByteArray& bytes : refused)
        EXPECT_THROW(durationOf(bytes), MotivationFileError) << bytes.size() << " bytes";

    // Every cut of a good file either reads or is refused; none reads past its end.
    for (qsizetype length = 0; length < good.size(); ++length) {
        try {
            durationOf(good.left(length));
        } catch (const MotivationFileError&) {
        }
    }
}

TEST(Mp4Duration, FilesOnDisk)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.m4a"));
    try {
        mp4::audioDuration(missing);
        FAIL() << "a missing file has no duration";
    } catch (const MotivationFileError& error) {
        EXPECT_EQ(error.description(),
                  QStringLiteral("The file “gone.m4a” couldn’t be opened: there is no such file."));
    }
    EXPECT_THROW(mp4::audioDuration(dir.path()), MotivationFileError);

    const QString real = dir.filePath(QStringLiteral("tone.m4a"));
    if (!fixtures::encodeTone(real, 43))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";
    // 43 buffers of 1024 samples at 44.1 kHz.
    EXPECT_NEAR(mp4::audioDuration(real), 43 * 1024 / 44100.0, 0.05);

    // The muxer writes the movie box last, so a cut file has lost it.
    QFile file(real);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    file.close();
    const QString cut = dir.filePath(QStringLiteral("cut.m4a"));
    ASSERT_TRUE(fixtures::writeFile(cut, whole.left(whole.size() / 2)));
    EXPECT_THROW(mp4::audioDuration(cut), MotivationFileError);
    ASSERT_TRUE(fixtures::writeFile(cut, whole.left(whole.size() - 10)));
    EXPECT_THROW(mp4::audioDuration(cut), MotivationFileError);
}
