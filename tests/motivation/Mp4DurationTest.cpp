#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "Mp4Fixtures.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/Mp4Duration.h"

TEST(Mp4Duration, ReadsTheSoundTrackOrRefuses)
{
    const QByteArray good = fixtures::mp4({});
    QByteArray oversized = good;
    oversized[3] = char(0x7F); // ftyp claims more bytes than the file has
    const struct {
        const char* name;
        QByteArray file;
        std::optional<double> seconds; // none: refused
    } cases[] = {
        { "version 0 headers", good, 1.0 },
        { "version 1 headers", fixtures::mp4({ .v1 = true, .mediaScale = 44100, .mediaDuration = 88200 }), 2.0 },
        { "a video track first", fixtures::mp4({ .mediaDuration = 2000, .handlers = { "vide", "soun" } }), 2.0 },
        { "unknown media length: the track's", fixtures::mp4({ .mediaDuration = {}, .trackDuration = 3500 }), 3.5 },
        { "no media or track length: the movie's", fixtures::mp4({ .mediaDuration = {}, .movieDuration = 1250 }), 1.25 },
        { "media time scale 0: the track's", fixtures::mp4({ .mediaScale = 0, .trackDuration = 700 }), 0.7 },
        { "empty", QByteArray(), std::nullopt },
        { "no sound track", fixtures::mp4({ .handlers = {} }), std::nullopt },
        { "a box longer than the file", oversized, std::nullopt },
        { "movie cut short", good.left(good.size() - 1), std::nullopt },
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(std::optional(mp4::audioDuration(c.file, "clip.m4a")), c.seconds) << c.name;
        } catch (const MotivationFileError&) {
            EXPECT_FALSE(c.seconds) << c.name;
        }
    }

    // Every cut either reads or is refused; under the sanitizers none reads past its end.
    for (qsizetype length = 0; length < good.size(); ++length) {
        try {
            mp4::audioDuration(good.left(length), "clip.m4a");
        } catch (const MotivationFileError&) {
        }
    }
}

TEST(Mp4Duration, RealEncodedFileAndItsTruncation)
{
    QTemporaryDir dir;
    const QString real = dir.filePath(QStringLiteral("tone.m4a"));
    if (!fixtures::encodeTone(real, 43))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";
    EXPECT_NEAR(mp4::audioDuration(real), 43 * 1024 / 44100.0, 0.05);

    // The muxer writes the movie box last, so a cut file has lost it.
    const QByteArray whole = *files::read(real);
    const QString cut = dir.filePath(QStringLiteral("cut.m4a"));
    for (qsizetype length : { whole.size() / 2, whole.size() - 10 }) {
        ASSERT_TRUE(fixtures::writeFile(cut, whole.left(length)));
        EXPECT_THROW(mp4::audioDuration(cut), MotivationFileError) << length;
    }
}
