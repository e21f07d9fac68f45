// The store behind the real account object, with a fake player, voice and random source; and once
// with GStreamer and espeak-ng, played to the sound server of the test run (a null sink in CI).
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <deque>

#include "Mp4Fixtures.h"
#include "support/RunTask.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/EspeakVoice.h"
#include "Tovrick/motivation/GstClipPlayer.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/Mp4Duration.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "shared/util/AppPaths.h"

namespace {

using Kind = MotivationAudioError::Kind;
const QString kAlice = QStringLiteral("user-alice");
const QString kBob = QStringLiteral("user-bob");

// Runs what the store has queued (session changes, started playbacks) and what was left to delete.
void drain()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

// The sound-server clients of this process, by name; none when no server answers.
std::optional<QStringList> ownSoundServerClients()
{
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"), { QStringLiteral("list"), QStringLiteral("clients") });
    if (!pactl.waitForFinished(10000) || pactl.exitStatus() != QProcess::NormalExit || pactl.exitCode() != 0)
        return std::nullopt;
    const QString ownPid = QStringLiteral("application.process.id = \"%1\"").arg(QCoreApplication::applicationPid());
    QStringList names;
    for (const QString& client : QString::fromUtf8(pactl.readAllStandardOutput()).split(QStringLiteral("Client #"))) {
        if (!client.contains(ownPid))
            continue;
        const qsizetype name = client.indexOf(QStringLiteral("application.name = "));
        names << (name < 0 ? QStringLiteral("(unnamed)") : client.mid(name).section(u'\n', 0, 0));
    }
    return names;
}

// What one opened playback saw; kept here, since the store owns and drops the playback.
struct Opened {
    QString path;
    bool stopped = false;
    bool fileAtStop = false;
    std::function<void(bool)> finish = {};
};

class StoreTest : public ::testing::Test {
protected:
    struct Playback : ClipPlayback {
        Playback(Opened& record, bool willStart) : seen(record), starts(willStart) { }
        bool play() override
        {
            seen.finish = onFinished;
            return starts;
        }
        void stop() override
        {
            seen.stopped = true;
            seen.fileAtStop = QFile::exists(seen.path);
        }
        Opened& seen;
        bool starts;
    };
    struct Player : ClipPlayer {
        explicit Player(StoreTest& test) : t(test) { }
        std::unique_ptr<ClipPlayback> open(const QString& path) override
        {
            mp4::audioDuration(path); // refuses what is not audio, as the real player does
            return std::make_unique<Playback>(t.opened.emplace_back(Opened { path }), t.starts);
        }
        StoreTest& t;
    };
    struct Speech : SpeechVoice {
        explicit Speech(StoreTest& test) : t(test) { }
        void speak(const QString& text, const QString&, double) override
        {
            t.speaking = true;
            t.spoken << text;
        }
        void stopSpeaking() override { t.speaking = false; }
        bool isSpeaking() const override { return t.speaking; }
        StoreTest& t;
    };

    void SetUp() override { QDir(AppPaths::appFolder()).removeRecursively(); }

    MotivationAudioStore& makeStore(std::optional<QString> signedIn = std::nullopt, bool realAudio = false)
    {
        if (signedIn)
            signIn(*signedIn);
        MotivationAudioStore::Ports ports { std::make_unique<AccountClipOwners>(m_account),
            std::make_unique<Player>(*this), std::make_unique<Speech>(*this),
            [this](qsizetype count) {
                counts.push_back(count);
                return pick;
            } };
        if (realAudio) {
            ports.player = std::make_unique<GstClipPlayer>();
            ports.speech = std::make_unique<EspeakVoice>();
        }
        m_store = std::make_unique<MotivationAudioStore>(std::move(ports));
        return *m_store;
    }

    void signIn(const QString& userId, bool valid = true)
    {
        AccountSession session;
        session.userId = userId;
        session.deviceToken = QStringLiteral("tvk_token");
        session.expiresAt = double(QDateTime::currentMSecsSinceEpoch()) + (valid ? 3.6e6 : -1e3);
        m_account.adoptSession(session);
    }

    static LocalMotivationLibrary folderOf(const std::optional<QString>& owner)
    {
        return LocalMotivationLibrary(MotivationAudioStore::directoryFor(owner));
    }

    // An own clip of one second, written straight into the owner's folder.
    static QString addClip(const std::optional<QString>& owner)
    {
        return folderOf(owner).add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), "t", 1.0).clips.last().id;
    }

    std::deque<Opened> opened;
    bool starts = true;
    bool speaking = false;
    QStringList spoken;
    std::vector<qsizetype> counts;
    qsizetype pick = 0;
    MemoryDeviceVault m_vault;
    TovrickAccount m_account { m_vault };
    std::unique_ptr<MotivationAudioStore> m_store;
};

} // namespace

TEST_F(StoreTest, FollowsTheAccount)
{
    const QString signedOutClip = addClip(std::nullopt);
    const QString aliceClip = addClip(kAlice);
    MotivationAudioStore& store = makeStore();
    store.refresh();
    EXPECT_EQ(store.library().clips.value(0).id, signedOutClip);

    // A sign-in is taken up once the current call has returned, and silences what plays.
    store.play(QStringLiteral("default-1"));
    drain();
    ASSERT_EQ(spoken, QStringList { MotivationAudioStore::placeholder() });
    signIn(kAlice);
    EXPECT_FALSE(store.owner());
    drain();
    EXPECT_EQ(store.owner(), kAlice);
    EXPECT_EQ(store.library().clips.value(0).id, aliceClip);
    EXPECT_FALSE(speaking);
    EXPECT_FALSE(store.playingID());

    // An expired session is followed as delivered, but nudge (like refresh) goes by validity.
    signIn(kBob, /*valid=*/false);
    drain();
    EXPECT_EQ(store.owner(), kBob);
    EXPECT_TRUE(store.library().clips.isEmpty());
    store.nudge();
    EXPECT_FALSE(store.owner());
    EXPECT_FALSE(store.playingID());
    EXPECT_EQ(store.library().clips.value(0).id, signedOutClip);

    // A change of owner cancels a queued playback, and the failure it would have met is not reported.
    store.play(QStringLiteral("not-there"));
    signIn(kAlice);
    drain();
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_FALSE(store.playingID());
}

TEST_F(StoreTest, UnreadableLibraryReachesTheMessageAndIsKept)
{
    const QByteArray broken = R"({"clips":[]})";
    ASSERT_TRUE(QDir().mkpath(MotivationAudioStore::directoryFor(kAlice)));
    ASSERT_TRUE(fixtures::writeFile(folderOf(kAlice).libraryPath(), broken));
    MotivationAudioStore& store = makeStore(kAlice);
    EXPECT_TRUE(store.message().startsWith(QStringLiteral("The data couldn’t be read"))) << store.message().toStdString();
    store.setEnabled(QStringLiteral("default-1"), false);
    EXPECT_EQ(files::read(folderOf(kAlice).libraryPath()), broken);
    ASSERT_TRUE(fixtures::writeFile(folderOf(kAlice).libraryPath(), R"({"clips":[],"disabledDefaults":["default-4"]})"));
    store.refresh();
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_FALSE(store.enabled(QStringLiteral("default-4")));
}

TEST_F(StoreTest, SaveTakesTheFilesLengthButTheRecordersMustBePositive)
{
    QTemporaryDir temp;
    const QString recording = temp.filePath(QStringLiteral("motivation-rec.m4a"));
    const QByteArray audio = fixtures::mp4Lasting(20.1, 200000);
    ASSERT_TRUE(fixtures::writeFile(recording, audio));
    MotivationAudioStore& store = makeStore(kAlice);
    const QUuid clientId = QUuid::createUuid();
    store.save(recording, 3.0, clientId);
    const MotivationClip clip = store.library().clips.value(0);
    EXPECT_EQ(clip.id, clientId.toString(QUuid::WithoutBraces));
    EXPECT_EQ(clip.duration, 20.1);
    EXPECT_EQ(files::read(*folderOf(kAlice).audioPath(clip.id)), audio);
    EXPECT_TRUE(QFile::exists(recording));

    try {
        store.save(recording, 0.0, QUuid::createUuid());
        ADD_FAILURE() << "a recorder length of 0 s was accepted";
    } catch (const MotivationAudioError& error) {
        EXPECT_EQ(error.kind(), Kind::invalid);
    }
    EXPECT_FALSE(store.busy());
    EXPECT_EQ(folderOf(kAlice).load().clips, QList { clip });
}

TEST_F(StoreTest, PlaybackIsCancelledReplacedEndedAndStoppedBeforeItsFileGoes)
{
    const QString a = addClip(kAlice);
    const QString b = addClip(kAlice);
    addClip(kBob);
    MotivationAudioStore& store = makeStore(kAlice);
    // Stopped before it starts: nothing opens and nothing is said.
    store.play(a);
    store.stop();
    store.play(QStringLiteral("default-1"));
    store.stop();
    drain();
    EXPECT_TRUE(opened.empty());
    EXPECT_TRUE(spoken.isEmpty());
    EXPECT_FALSE(store.playingID());

    // Only the current playback ends it.
    store.play(a);
    drain();
    store.play(b);
    drain();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[1].path, *folderOf(kAlice).audioPath(b));
    EXPECT_TRUE(opened[0].stopped);
    opened[0].finish(true);
    EXPECT_EQ(store.playingID(), b);
    opened[1].finish(false);
    EXPECT_FALSE(store.playingID());

    // One that cannot start ends at once and says why.
    starts = false;
    store.play(b);
    drain();
    EXPECT_EQ(store.message(), MotivationAudioError::text(Kind::invalid));
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(opened.back().stopped);
    starts = true;

    // Changes stop the clip they touch, before its file goes.
    store.play(a);
    drain();
    store.setEnabled(b, false);
    EXPECT_EQ(store.playingID(), a);
    store.remove(store.library().clips[0]);
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(opened.back().fileAtStop);
    EXPECT_FALSE(QFile::exists(*folderOf(kAlice).audioPath(a)));
    EXPECT_EQ(store.library().clips.value(0).id, b);

    store.play(b);
    drain();
    store.deleteRecordings(kBob);
    EXPECT_FALSE(store.playingID());
    EXPECT_FALSE(QFileInfo::exists(MotivationAudioStore::directoryFor(kBob)));
    store.deleteRecordings(kAlice);
    EXPECT_TRUE(store.library().clips.isEmpty());
    EXPECT_FALSE(QFileInfo::exists(MotivationAudioStore::directoryFor(kAlice)));
}

TEST_F(StoreTest, NudgePicksUniformlyAmongEnabledClipsOnlyWhenItMay)
{
    MotivationAudioStore& store = makeStore();
    store.nudge();
    EXPECT_TRUE(counts.empty()) << "nothing plays while signed out";

    signIn(kAlice);
    const QString a = addClip(kAlice);
    const QString b = addClip(kAlice);
    const QString c = addClip(kAlice);
    store.refresh();
    store.setEnabled(QStringLiteral("default-2"), false);
    store.setEnabled(b, false);
    const QStringList candidates { "default-1", "default-3", "default-4", "default-5", a, c };
    for (pick = 0; pick < candidates.size(); ++pick) {
        store.nudge();
        EXPECT_EQ(counts.back(), candidates.size());
        EXPECT_EQ(store.playingID(), candidates[pick]);
        store.nudge(); // not over what plays
        store.stop();
    }
    store.setRecordingActive(true);
    store.nudge();
    store.play(a);
    store.setRecordingActive(false);
    EXPECT_EQ(counts.size(), size_t(candidates.size()));
    EXPECT_FALSE(store.playingID());

    // Nothing enabled: the random source is not even asked.
    for (const QString& id : motivation::defaultIds() + QStringList { a, c })
        store.setEnabled(id, false);
    store.nudge();
    EXPECT_EQ(counts.size(), size_t(candidates.size()));
}

// The program's own store plays a clip and the voice to their ends on the test run's sound server
// (a null sink in CI), and once they have ended the process holds no connection to that server
// which exit would have to tear down.
TEST_F(StoreTest, TheProgramsStorePlaysToTheEndAndKeepsNoSoundServerConnection)
{
    if (!ownSoundServerClients())
        GTEST_SKIP() << "no sound server answers pactl";
    QTemporaryDir dir;
    const QString recording = dir.filePath(QStringLiteral("motivation-x.m4a"));
    if (!fixtures::encodeTone(recording, 22))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";
    // Whoever the run's shared secret store says is signed in: other test processes may have signed in.
    MotivationAudioStore& store = MotivationAudioStore::shared();
    const auto audio = files::read(recording);
    ASSERT_TRUE(audio);
    folderOf(store.owner()).add(*audio, QUuid::createUuid(), "t", 22 * 1024 / 44100.0);
    store.refresh();

    for (const QString& id : { store.library().clips.value(0).id, QStringLiteral("default-1") }) {
        store.play(id);
        EXPECT_TRUE(waitUntil([&] { return !store.playingID(); }, std::chrono::seconds(20))) << id.toStdString();
        EXPECT_TRUE(store.message().isEmpty()) << store.message().toStdString();
    }
    drain();
    std::optional<QStringList> held;
    EXPECT_TRUE(waitUntil([&] { return (held = ownSoundServerClients()) && held->isEmpty(); }))
        << held.value_or(QStringList()).join(u',').toStdString();
}

// With no sound server to play to, a clip and the voice end at once, neither hangs, and the user is
// not asked to record again: the recording is not at fault.
TEST_F(StoreTest, WithoutASoundServerPlaybackEndsAtOnce)
{
    QTemporaryDir dir;
    const QString recording = dir.filePath(QStringLiteral("motivation-x.m4a"));
    if (!fixtures::encodeTone(recording, 22))
        GTEST_SKIP() << "gst-launch-1.0 with voaacenc is not installed";
    const QByteArray server = qgetenv("PULSE_SERVER");
    const auto restore = qScopeGuard([&] {
        if (server.isNull())
            qunsetenv("PULSE_SERVER");
        else
            qputenv("PULSE_SERVER", server);
    });
    qputenv("PULSE_SERVER", "unix:/nonexistent/tovrick-sound-server");
    MotivationAudioStore& store = makeStore(kAlice, /*realAudio=*/true);
    store.save(recording, 0.5, QUuid::createUuid());
    EXPECT_NEAR(store.library().clips.value(0).duration, 22 * 1024 / 44100.0, 0.05);

    for (const QString& id : { store.library().clips.value(0).id, QStringLiteral("default-1") }) {
        store.play(id);
        EXPECT_TRUE(waitUntil([&] { return !store.playingID(); })) << id.toStdString();
        EXPECT_TRUE(store.message().isEmpty()) << store.message().toStdString();
    }
    m_store.reset();
    drain();
}
