// The recorder over a scripted recorder and microphone; and once for real, from the sound server's
// null source through GStreamer into the store.
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "RecorderRig.h"
#include "support/RunTask.h"
#include "Tovrick/motivation/GstClipRecorder.h"
#include "Tovrick/motivation/MotivationRecorder.h"
#include "Tovrick/motivation/Mp4Duration.h"
#include "Tovrick/motivation/SoundServerMicrophoneAccess.h"
#include "shared/util/AppPaths.h"

namespace {

using Phase = MotivationRecorder::Phase;
const QString kTooShort = QStringLiteral("Die Aufnahme war zu kurz. Bitte versuche es erneut.");
const QString kInterrupted = QStringLiteral("Die Aufnahme wurde unterbrochen. Bitte versuche es erneut.");
const QString kFailed = QStringLiteral("Die Aufnahme ist fehlgeschlagen.");

// The permission bits of a file or folder; -1 when it is not there.
int modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

class RecorderTest : public ::testing::Test {
protected:
    void SetUp() override { QDir(AppPaths::appFolder()).removeRecursively(); }

    // A recorder that has started recording.
    MotivationRecorder& recording()
    {
        runTask(recorder.start());
        EXPECT_EQ(recorder.phase(), Phase::recording);
        return recorder;
    }

    RecorderRig rig;
    MotivationRecorder recorder { *rig.store, &rig, &rig };
};

} // namespace

TEST_F(RecorderTest, StartSilencesTheStoreAndRecordsTwentySecondsToANamedTemporaryFile)
{
    rig.store->play(QStringLiteral("default-1"));
    drainEvents();
    ASSERT_TRUE(rig.voice->speaking);
    bool activeWhileAsking = false;
    rig.granted.reset();
    QCoro::Task<> starting = recorder.start();
    activeWhileAsking = rig.store->recordingActive();
    EXPECT_FALSE(rig.voice->speaking);
    EXPECT_FALSE(rig.store->playingID());
    rig.answer(true);
    ASSERT_TRUE(waitUntil([&] { return recorder.phase() == Phase::recording; }));

    EXPECT_TRUE(activeWhileAsking);
    EXPECT_TRUE(rig.store->recordingActive());
    EXPECT_EQ(rig.seconds, 20.0);
    const QString name = QStringLiteral("motivation-%1.m4a").arg(recorder.clientId().toString(QUuid::WithoutBraces).toUpper());
    // In a folder of the user's own, not the shared temporary one.
    const QString folder = AppPaths::privateTemporary();
    EXPECT_EQ(rig.path, QDir(folder).filePath(name));
    EXPECT_EQ(modeOf(folder), 0700);
    EXPECT_EQ(recorder.url(), rig.path);
    // Nothing plays over a recording.
    rig.store->play(QStringLiteral("default-2"));
    EXPECT_FALSE(rig.store->playingID());

    rig.time = 7.9;
    ASSERT_TRUE(waitUntil([&] { return recorder.elapsed() == 7.9; }));
    rig.time = 25;
    ASSERT_TRUE(waitUntil([&] { return recorder.elapsed() == 20; }));
}

TEST_F(RecorderTest, StopKeepsOnlyRecordingsLongerThanATenthAndWaitsForTheFile)
{
    const struct {
        double time;
        Phase phase;
        double duration;
    } cases[] = { { 0.1, Phase::failed, 0.1 }, { 0.11, Phase::stopped, 0.11 }, { 0, Phase::failed, 0 },
                  { 25, Phase::stopped, 20 } };
    for (const auto& c : cases) {
        RecorderRig r;
        MotivationRecorder subject(*r.store, &r, &r);
        runTask(subject.start());
        r.time = c.time;
        subject.stop();
        EXPECT_FALSE(r.store->recordingActive()) << c.time;
        EXPECT_EQ(r.stops, 1) << c.time;
        EXPECT_EQ(subject.duration(), c.duration) << c.time;
        EXPECT_EQ(subject.elapsed(), c.duration) << c.time;
        if (c.phase == Phase::stopped) {
            // Not saveable until the file is complete.
            EXPECT_EQ(subject.phase(), Phase::recording) << c.time;
            subject.stop();
            EXPECT_EQ(r.stops, 1) << c.time;
            r.finish(true, c.time + 0.05);
            drainEvents();
            EXPECT_EQ(subject.duration(), c.duration) << c.time;
        } else {
            EXPECT_EQ(subject.message(), kTooShort) << c.time;
        }
        EXPECT_EQ(subject.phase(), c.phase) << c.time;
    }
}

TEST_F(RecorderTest, ThePlatformsEndMeasuresTheFile)
{
    const struct {
        bool successfully;
        double ticked, file;
        Phase phase;
        double length;
        const QString* message;
    } cases[] = {
        { true, 19.9, 20.3, Phase::stopped, 20, nullptr },
        { true, 12.0, 12.4, Phase::stopped, 12.4, nullptr },
        { true, 12.0, 11.0, Phase::stopped, 12.0, nullptr },
        { false, 12.0, 12.4, Phase::failed, 12.4, &kInterrupted },
        { true, 0.05, 0.1, Phase::failed, 0.1, &kInterrupted },
    };
    for (const auto& c : cases) {
        RecorderRig r;
        MotivationRecorder subject(*r.store, &r, &r);
        runTask(subject.start());
        r.time = c.ticked;
        ASSERT_TRUE(waitUntil([&] { return subject.elapsed() == c.ticked; }));
        r.finish(c.successfully, c.file);
        drainEvents();
        EXPECT_EQ(subject.phase(), c.phase) << c.file;
        EXPECT_DOUBLE_EQ(subject.duration(), c.length) << c.file;
        EXPECT_DOUBLE_EQ(subject.elapsed(), c.length) << c.file;
        EXPECT_EQ(subject.message(), c.message ? *c.message : QString()) << c.file;
        EXPECT_FALSE(r.store->recordingActive());
    }
}

TEST_F(RecorderTest, TheEndCountsWhatWasRecordedAfterTheLastTick)
{
    MotivationRecorder& subject = recording();
    rig.time = 19.9;
    ASSERT_TRUE(waitUntil([&] { return subject.elapsed() == 19.9; }));
    // The limit is reached and the file completed before the next tick.
    rig.time = 20;
    rig.finish(true, 19.968);
    drainEvents();
    EXPECT_EQ(subject.phase(), Phase::stopped);
    EXPECT_EQ(subject.duration(), 20);
    EXPECT_EQ(subject.elapsed(), 20);
}

TEST_F(RecorderTest, RefusedMicrophoneAsksForTheSettings)
{
    rig.granted = false;
    runTask(recorder.start());
    EXPECT_EQ(recorder.phase(), Phase::failed);
    EXPECT_TRUE(recorder.needsMicrophoneSettings());
    // Linux asks no permission for the microphone: the sound settings are where to look.
    EXPECT_EQ(recorder.message(), QStringLiteral("Bitte prüfe das Mikrofon in den Toneinstellungen, um deinen Spruch aufzunehmen."));
    EXPECT_FALSE(rig.store->recordingActive());
    EXPECT_FALSE(recorder.url());
    EXPECT_TRUE(rig.path.isEmpty());
}

TEST_F(RecorderTest, AFolderThatCannotBeMadeIsNamedAsAFolderInTheSheetsLanguage)
{
    // A file where the recordings' folder belongs.
    const QString folder = AppPaths::privateTemporary();
    ASSERT_TRUE(QDir(folder).removeRecursively());
    const auto restore = qScopeGuard([&] { QFile::remove(folder); });
    ASSERT_TRUE(fixtures::writeFile(folder, QByteArray("in the way")));

    runTask(recorder.start());
    EXPECT_EQ(recorder.phase(), Phase::failed);
    EXPECT_EQ(recorder.message(), QStringLiteral("Der Ordner „Tovrick“ für Aufnahmen konnte nicht angelegt werden."));
    EXPECT_TRUE(rig.path.isEmpty());
    EXPECT_FALSE(rig.store->recordingActive());
}

TEST_F(RecorderTest, CancelWhileTheMicrophoneIsAskedRecordsNothing)
{
    rig.granted.reset();
    QCoro::Task<> starting = recorder.start();
    recorder.cancel();
    rig.answer(true);
    drainEvents();
    EXPECT_EQ(rig.asked, 1);
    EXPECT_TRUE(rig.path.isEmpty());
    EXPECT_EQ(recorder.phase(), Phase::preparing);
    EXPECT_FALSE(rig.store->recordingActive());
}

TEST_F(RecorderTest, AnEndAfterCancelChangesNothingAndTheFileGoes)
{
    recording();
    rig.time = 5;
    std::function<void(bool)> lateEnd = rig.current->onFinished;
    recorder.cancel();
    EXPECT_EQ(rig.destroyed, 1);
    EXPECT_FALSE(QFile::exists(rig.path));
    EXPECT_FALSE(rig.store->recordingActive());
    lateEnd(true);
    drainEvents();
    EXPECT_EQ(recorder.phase(), Phase::recording);
    EXPECT_EQ(recorder.duration(), 0);
}

TEST_F(RecorderTest, EncodingErrorsFailTheRecording)
{
    // While recording, and after the user stopped but before the file was complete.
    for (const bool stoppedFirst : { false, true }) {
        RecorderRig r;
        MotivationRecorder subject(*r.store, &r, &r);
        runTask(subject.start());
        r.time = 3;
        if (stoppedFirst)
            subject.stop();
        r.encodeError();
        drainEvents();
        EXPECT_EQ(subject.phase(), Phase::failed) << stoppedFirst;
        EXPECT_EQ(subject.message(), kFailed) << stoppedFirst;
        EXPECT_FALSE(r.store->recordingActive());
        r.finish(true, 3);
        drainEvents();
        EXPECT_EQ(subject.phase(), Phase::failed) << stoppedFirst;
    }
}

TEST_F(RecorderTest, ARecorderThatCannotStartFailsAndCleansUp)
{
    const struct {
        bool refuse;
        std::optional<QString> error;
        QString message;
    } cases[] = {
        { true, std::nullopt, MotivationAudioError::text(MotivationAudioError::Kind::invalid) },
        { false, QStringLiteral("No AAC audio encoder is installed."), QStringLiteral("No AAC audio encoder is installed.") },
    };
    for (const auto& c : cases) {
        RecorderRig r;
        r.refuseToStart = c.refuse;
        r.setupError = c.error;
        MotivationRecorder subject(*r.store, &r, &r);
        runTask(subject.start());
        EXPECT_EQ(subject.phase(), Phase::failed);
        EXPECT_EQ(subject.message(), c.message);
        EXPECT_FALSE(subject.needsMicrophoneSettings());
        EXPECT_FALSE(r.store->recordingActive());
        // Stop does nothing after a failure.
        subject.stop();
        EXPECT_EQ(subject.message(), c.message);
    }
}

TEST_F(RecorderTest, DroppingARecorderMidRecordingLeavesNoFileAndNoSilencedStore)
{
    QString path;
    {
        MotivationRecorder dropped(*rig.store, &rig, &rig);
        runTask(dropped.start());
        path = rig.path;
        ASSERT_TRUE(QFile::exists(path));
    }
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_FALSE(rig.store->recordingActive());
}

TEST_F(RecorderTest, StopBeforeRecordingDoesNothing)
{
    rig.granted.reset();
    QCoro::Task<> starting = recorder.start();
    recorder.stop();
    EXPECT_EQ(recorder.phase(), Phase::preparing);
    EXPECT_TRUE(rig.store->recordingActive());
    rig.answer(true);
    ASSERT_TRUE(waitUntil([&] { return recorder.phase() == Phase::recording; }));
}

// With no sound server to take the stream, the microphone is refused at once, with the sentence that
// sends the user to the settings, and nothing is recorded.
TEST(SoundServerMicrophone, WithoutAServerItIsRefusedAtOnce)
{
    if (GstClipRecorder::sourceElement() != QLatin1String("pulsesrc"))
        GTEST_SKIP() << "GStreamer's sound-server source is not installed";
    const QByteArray server = qgetenv("PULSE_SERVER");
    const auto restore = qScopeGuard([&] {
        if (server.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", server);
    });
    qputenv("PULSE_SERVER", "unix:/nonexistent/tovrick-sound-server");
    RecorderRig rig;
    MotivationRecorder recorder(*rig.store, &GstClipRecorder::shared(), &SoundServerMicrophoneAccess::shared());
    runTask(recorder.start(), std::chrono::seconds(2));
    EXPECT_EQ(recorder.phase(), MotivationRecorder::Phase::failed);
    EXPECT_EQ(recorder.message(), MotivationAudioError::text(MotivationAudioError::Kind::permission));
    EXPECT_FALSE(recorder.url());
}

// A recording from the sound server's null source, started as the Sounds page starts it.
class RealRecording : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("TOVRICK_TEST_SERVICES"))
            GTEST_SKIP() << "needs the sound server of scripts/with-test-services";
        ASSERT_FALSE(GstClipRecorder::pipelineDescription().isEmpty()) << "no AAC encoder for GStreamer";
        runTask(recorder.start());
        ASSERT_EQ(recorder.phase(), MotivationRecorder::Phase::recording) << recorder.message().toStdString();
    }

    RecorderRig rig;
    MotivationRecorder recorder { *rig.store, &GstClipRecorder::shared(), &SoundServerMicrophoneAccess::shared() };
};

// About a second, saved through the store and read back.
TEST_F(RealRecording, ASecondFromTheSoundServerBecomesAClip)
{
    ASSERT_TRUE(waitUntil([&] { return recorder.elapsed() >= 1.0; }));
    recorder.stop();
    ASSERT_TRUE(waitUntil([&] { return recorder.phase() != MotivationRecorder::Phase::recording; }));
    ASSERT_EQ(recorder.phase(), MotivationRecorder::Phase::stopped) << recorder.message().toStdString();
    const QString path = *recorder.url();
    const double measured = mp4::audioDuration(path);
    EXPECT_NEAR(measured, recorder.duration(), 0.25);
    // 48 kbit/s mono: about 6 kB a second (Qt's own recorder wrote about 17 kB).
    EXPECT_LT(QFileInfo(path).size(), 12000);

    rig.store->save(path, recorder.duration(), recorder.clientId());
    ASSERT_EQ(rig.store->library().clips.size(), 1);
    const MotivationClip clip = rig.store->library().clips.first();
    EXPECT_EQ(clip.id, recorder.clientId().toString(QUuid::WithoutBraces).toLower());
    EXPECT_NEAR(clip.duration, 1.0, 0.3);
    const std::optional<QString> stored = LocalMotivationLibrary(MotivationAudioStore::directoryFor(std::nullopt)).audioPath(clip.id);
    ASSERT_TRUE(stored);
    EXPECT_DOUBLE_EQ(mp4::audioDuration(*stored), clip.duration);
    recorder.cancel();
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(QFile::exists(*stored));
}

// A recording left to run to its end: the file stops at the limit, whatever the timing of the main
// thread, and the store takes it. The recording stays readable by its user alone until it goes.
TEST_F(RealRecording, TwentySecondsToTheEndAreAlwaysAcceptedByTheStore)
{
    const QString path = *recorder.url();
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(QFileInfo(path).path()), 0700);

    ASSERT_TRUE(waitUntil([&] { return recorder.phase() != MotivationRecorder::Phase::recording; }, std::chrono::seconds(40)));
    ASSERT_EQ(recorder.phase(), MotivationRecorder::Phase::stopped) << recorder.message().toStdString();
    EXPECT_EQ(recorder.duration(), MotivationRecorder::kLongest);
    EXPECT_EQ(recorder.elapsed(), MotivationRecorder::kLongest);
    const double measured = mp4::audioDuration(path);
    EXPECT_GE(measured, 19.9);
    EXPECT_LE(measured, 20.1);
    EXPECT_EQ(modeOf(path), 0600);

    rig.store->save(path, recorder.duration(), recorder.clientId());
    ASSERT_EQ(rig.store->library().clips.size(), 1);
    EXPECT_DOUBLE_EQ(rig.store->library().clips.first().duration, measured);
    recorder.cancel();
    EXPECT_FALSE(QFile::exists(path));
}
