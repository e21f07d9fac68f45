// Real Qt Multimedia and espeak-ng, played to the sound server of the test run (a null sink in CI).
#include <QCoreApplication>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include "AudioFixtures.h"
#include "support/RunTask.h"
#include "StoreFakes.h"
#include "Tovrick/motivation/EspeakVoice.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/QtClipPlayer.h"

namespace {

quint32 wavSampleCount(const QByteArray& wav)
{
    return qFromLittleEndian<quint32>(wav.constData() + 40) / 2;
}

void flushDeletions()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

} // namespace

TEST(Playback, QtPlayerPlaysARecordedClipToItsEnd)
{
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip.m4a"));
    if (!fixtures::encodeTone(clip, 22))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";

    QtClipPlayer player;
    EXPECT_THROW(player.open(dir.filePath(QStringLiteral("missing.m4a"))), MotivationFileError);
    ASSERT_TRUE(fixtures::writeFile(dir.filePath(QStringLiteral("text.m4a")), "not audio"));
    EXPECT_THROW(player.open(dir.filePath(QStringLiteral("text.m4a"))), MotivationFileError);

    std::optional<bool> finished;
    {
        std::unique_ptr<ClipPlayback> playback = player.open(clip);
        playback->onFinished = [&](bool successfully) { finished = successfully; };
        ASSERT_TRUE(playback->play());
        EXPECT_TRUE(waitUntil([&] { return finished.has_value(); }, std::chrono::seconds(20)));
        EXPECT_EQ(finished, true);
    }
    flushDeletions();
}

TEST(Playback, EspeakSpeaksGermanAtTheGivenPace)
{
    const QByteArray normal = EspeakVoice::synthesizeWav(MotivationAudioStore::placeholder(), "de-DE", 0.5);
    ASSERT_GT(normal.size(), 44);
    EXPECT_TRUE(normal.startsWith("RIFF"));
    EXPECT_EQ(normal.mid(8, 8), QByteArray("WAVEfmt "));
    EXPECT_EQ(qsizetype(wavSampleCount(normal)) * 2 + 44, normal.size());
    const QByteArray slower = EspeakVoice::synthesizeWav(MotivationAudioStore::placeholder(), "de-DE", 0.47);
    const QByteArray faster = EspeakVoice::synthesizeWav(MotivationAudioStore::placeholder(), "de-DE", 0.9);
    EXPECT_GT(wavSampleCount(slower), wavSampleCount(normal));
    EXPECT_LT(wavSampleCount(faster), wavSampleCount(normal));
    // A language without a voice still speaks, in the default voice.
    EXPECT_GT(EspeakVoice::synthesizeWav(QStringLiteral("Hallo"), "xx-YY", 0.5).size(), 44);
}

TEST(Playback, EspeakVoiceReportsTheEndButNotAStop)
{
    int finishes = 0;
    {
        EspeakVoice voice;
        voice.onFinished = [&] { ++finishes; };
        voice.speak(QStringLiteral("Hallo"), QStringLiteral("de-DE"), 0.9);
        EXPECT_TRUE(voice.isSpeaking());
        EXPECT_TRUE(waitUntil([&] { return finishes == 1; }, std::chrono::seconds(20)));
        EXPECT_FALSE(voice.isSpeaking());

        voice.speak(MotivationAudioStore::placeholder(), QStringLiteral("de-DE"), 0.47);
        voice.stopSpeaking();
        EXPECT_FALSE(voice.isSpeaking());
        waitUntil([] { return false; }, std::chrono::milliseconds(300));
        EXPECT_EQ(finishes, 1);
    }
    flushDeletions();
}

TEST(Playback, StoreWithRealAudioClearsPlayingAtTheEnd)
{
    QTemporaryDir dir;
    const QString recording = dir.filePath(QStringLiteral("motivation-x.m4a"));
    if (!fixtures::encodeTone(recording, 22))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";
    auto owners = std::make_unique<FakeOwners>();
    owners->state->validUserId = owners->state->delivered = QStringLiteral("user-real-audio");
    {
        MotivationAudioStore store(MotivationAudioStore::Ports {
            std::move(owners), std::make_unique<QtClipPlayer>(), std::make_unique<EspeakVoice>(),
            [](qsizetype) { return qsizetype(0); } });
        store.refresh();
        store.save(recording, 0.5, QUuid::createUuid());
        ASSERT_EQ(store.library().clips.size(), 1);
        EXPECT_NEAR(store.library().clips[0].duration, 22 * 1024 / 44100.0, 0.05);

        store.play(store.library().clips[0].id);
        EXPECT_TRUE(waitUntil([&] { return !store.playingID(); }, std::chrono::seconds(20)));
        EXPECT_TRUE(store.message().isEmpty()) << store.message().toStdString();
        store.deleteRecordings(QStringLiteral("user-real-audio"));
    }
    flushDeletions();
}
