#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>

#include <sys/stat.h>

#include "AudioFixtures.h"
#include "StoreFakes.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"

namespace {

using Kind = MotivationAudioError::Kind;
const QString kAlice = QStringLiteral("user-alice");
const QString kBob = QStringLiteral("user-bob");

// Runs what the store has scheduled (session deliveries, started playbacks).
void drain()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { removeClipFolders(); }
    void TearDown() override
    {
        m_store.reset();
        drain();
        removeClipFolders();
    }

    static void removeClipFolders()
    {
        QDir app(AppPaths::appFolder());
        for (const QString& name : app.entryList({ QStringLiteral("Motivation-*") }, QDir::AllEntries))
            QFileInfo(app.filePath(name)).isDir() ? QDir(app.filePath(name)).removeRecursively()
                                                  : QFile::remove(app.filePath(name));
    }

    MotivationAudioStore& makeStore(std::optional<QString> signedIn = std::nullopt)
    {
        auto owners = std::make_unique<FakeOwners>();
        owners->state->delivered = signedIn;
        owners->state->validUserId = signedIn;
        m_owners = owners->state;
        auto player = std::make_unique<FakePlayer>();
        m_player = player->state;
        auto speech = std::make_unique<FakeSpeech>();
        m_speech = speech->state;
        m_random = std::make_shared<FakeRandom>();
        m_store = std::make_unique<MotivationAudioStore>(MotivationAudioStore::Ports {
            std::move(owners), std::move(player), std::move(speech),
            [random = m_random](qsizetype count) {
                random->counts.push_back(count);
                return random->next;
            } });
        return *m_store;
    }

    static LocalMotivationLibrary folderOf(const std::optional<QString>& owner)
    {
        return LocalMotivationLibrary(MotivationAudioStore::directoryFor(owner));
    }

    // An own clip of one second, written straight into the owner's folder.
    static QString addClip(const std::optional<QString>& owner, bool enabled = true)
    {
        const QUuid id = QUuid::createUuid();
        MotivationLibrary library = folderOf(owner).add(fixtures::mp4Lasting(1.0), id, QStringLiteral("t"), 1.0);
        library.clips.last().enabled = enabled;
        folderOf(owner).save(library);
        return library.clips.last().id;
    }

    static void writeLibrary(const std::optional<QString>& owner, const QByteArray& document)
    {
        ASSERT_TRUE(QDir().mkpath(MotivationAudioStore::directoryFor(owner)));
        ASSERT_TRUE(fixtures::writeFile(folderOf(owner).libraryPath(), document));
    }

    std::unique_ptr<MotivationAudioStore> m_store;
    std::shared_ptr<FakeOwners::State> m_owners;
    std::shared_ptr<FakePlayer::State> m_player;
    std::shared_ptr<FakeSpeech::State> m_speech;
    std::shared_ptr<FakeRandom> m_random;
};

} // namespace

TEST_F(StoreTest, FoldersAreNamedByTheHashedOwner)
{
    const auto hashed = [](const QString& text) {
        return QString::fromLatin1(QCryptographicHash::hash(text.toUtf8(), QCryptographicHash::Sha256).toHex());
    };
    const QString app = AppPaths::appFolder();
    EXPECT_EQ(MotivationAudioStore::directoryFor(kAlice), app + "/Motivation-" + hashed(kAlice));
    EXPECT_EQ(MotivationAudioStore::directoryFor(std::nullopt), app + "/Motivation-" + hashed("signed-out"));

    // Clip folders get default modes; the app folder above them stays private.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    addClip(kAlice);
    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(app).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(MotivationAudioStore::directoryFor(kAlice)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0777u & ~mask);
}

TEST_F(StoreTest, FollowsTheAccount)
{
    const QString signedOutClip = addClip(std::nullopt);
    const QString aliceClip = addClip(kAlice);
    MotivationAudioStore& store = makeStore();
    EXPECT_FALSE(store.owner());
    store.refresh();
    ASSERT_EQ(store.library().clips.size(), 1);
    EXPECT_EQ(store.library().clips[0].id, signedOutClip);

    // A sign-in is taken up once the current call has returned.
    store.play(QStringLiteral("default-1"));
    drain();
    ASSERT_TRUE(m_speech->speaking);
    deliverSession(*m_owners, kAlice);
    EXPECT_FALSE(store.owner());
    drain();
    EXPECT_EQ(store.owner(), kAlice);
    EXPECT_EQ(store.library().clips.size(), 1);
    EXPECT_EQ(store.library().clips[0].id, aliceClip);
    EXPECT_FALSE(m_speech->speaking);
    EXPECT_FALSE(store.playingID());

    // The same owner again does not reload; refresh does.
    addClip(kAlice);
    deliverSession(*m_owners, kAlice);
    drain();
    EXPECT_EQ(store.library().clips.size(), 1);
    store.refresh();
    EXPECT_EQ(store.library().clips.size(), 2);

    // A delivered session is taken as it is; refresh and nudge go by the valid account only.
    deliverSession(*m_owners, kBob, /*valid=*/false);
    drain();
    EXPECT_EQ(store.owner(), kBob);
    EXPECT_TRUE(store.library().clips.isEmpty());
    store.refresh();
    EXPECT_FALSE(store.owner());
    EXPECT_EQ(store.library().clips.size(), 1);

    // Deliveries after the store is gone go nowhere.
    m_store.reset();
    deliverSession(*m_owners, kAlice);
    drain();
}

TEST_F(StoreTest, LoadFailuresReachTheMessageAndKeepTheFile)
{
    const QByteArray broken = R"({"clips":[]})";
    writeLibrary(kBob, broken);
    MotivationAudioStore& store = makeStore(kAlice);
    addClip(kAlice);
    store.refresh();
    ASSERT_EQ(store.library().clips.size(), 1);

    deliverSession(*m_owners, kBob);
    drain();
    EXPECT_TRUE(store.message().startsWith(QStringLiteral("The data couldn’t be read"))) << store.message().toStdString();
    EXPECT_TRUE(store.library().clips.isEmpty());

    // Refresh keeps the last library when loading fails, and clears the message once it works.
    ASSERT_TRUE(store.library().clips.isEmpty());
    store.setEnabled(QStringLiteral("default-1"), false);
    EXPECT_EQ(files::read(folderOf(kBob).libraryPath()), broken);
    store.refresh();
    EXPECT_FALSE(store.message().isEmpty());
    writeLibrary(kBob, R"({"clips":[],"disabledDefaults":["default-4"]})");
    store.refresh();
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_FALSE(store.enabled(QStringLiteral("default-4")));

    // A new owner starts with a clear message.
    writeLibrary(kBob, broken);
    store.refresh();
    ASSERT_FALSE(store.message().isEmpty());
    deliverSession(*m_owners, kAlice);
    drain();
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_EQ(store.library().clips.size(), 1);
}

TEST_F(StoreTest, SetEnabled)
{
    writeLibrary(kAlice, R"({"clips":[],"disabledDefaults":["default-2","default-5","default-2"]})");
    const QString a = addClip(kAlice);
    const QString b = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);

    store.setEnabled(QStringLiteral("default-2"), false);
    EXPECT_EQ(store.library().disabledDefaults, (QStringList { "default-5", "default-2" }));
    EXPECT_EQ(folderOf(kAlice).load(), store.library());
    writeLibrary(kAlice, R"({"clips":[],"disabledDefaults":["default-2","default-2"]})");
    store.setEnabled(QStringLiteral("default-2"), true);
    EXPECT_TRUE(store.library().disabledDefaults.isEmpty());
    EXPECT_TRUE(store.enabled(QStringLiteral("default-2")));

    // Own clips: the file is read afresh, not the published copy.
    addClip(kAlice);
    store.setEnabled(a, false);
    EXPECT_EQ(store.library().clips.size(), 1);
    EXPECT_FALSE(store.enabled(a));
    EXPECT_FALSE(store.enabled(QStringLiteral("no-such-clip")));
    const QString c = addClip(kAlice);
    store.refresh();

    // Switching off the clip that plays stops it; switching off another does not.
    store.play(b);
    drain();
    store.setEnabled(c, false);
    EXPECT_EQ(store.playingID(), b);
    store.setEnabled(b, false);
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(m_player->last()->stopped);

    // A failed save (the owner's folder is a file) reaches the message; nothing else changes.
    const MotivationLibrary before = store.library();
    folderOf(kBob).removeIfExists();
    ASSERT_TRUE(fixtures::writeFile(MotivationAudioStore::directoryFor(kBob), "in the way"));
    deliverSession(*m_owners, kBob);
    drain();
    store.setEnabled(QStringLiteral("default-1"), false);
    EXPECT_FALSE(store.message().isEmpty());
    EXPECT_FALSE(store.busy());
    EXPECT_TRUE(store.enabled(QStringLiteral("default-1")));
    EXPECT_NE(before, store.library());
}

TEST_F(StoreTest, BusyKeepsChangesFromOverlapping)
{
    const QString clip = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);
    std::optional<Kind> saveRefusal;
    bool reentered = false;
    QObject::connect(&store, &MotivationAudioStore::busyChanged, &store, [&] {
        if (!store.busy() || reentered)
            return;
        reentered = true;
        store.setEnabled(QStringLiteral("default-1"), false);
        store.remove(store.library().clips.value(0));
        try {
            store.save(QStringLiteral("/nonexistent.m4a"), 1.0, QUuid::createUuid());
        } catch (const MotivationAudioError& error) {
            saveRefusal = error.kind();
        }
    });
    store.setEnabled(QStringLiteral("default-3"), false);
    EXPECT_EQ(saveRefusal, Kind::busy);
    EXPECT_FALSE(store.busy());
    EXPECT_EQ(store.library().disabledDefaults, QStringList { "default-3" });
    EXPECT_EQ(store.library().clips.size(), 1);
    EXPECT_EQ(store.library().clips[0].id, clip);
}

TEST_F(StoreTest, SaveTurnsARecordingIntoAClip)
{
    QTemporaryDir temp;
    const QString recording = temp.filePath(QStringLiteral("motivation-rec.m4a"));
    const QByteArray audio = fixtures::mp4Lasting(20.1, 200000);
    ASSERT_EQ(audio.size(), 200000);
    ASSERT_TRUE(fixtures::writeFile(recording, audio));
    MotivationAudioStore& store = makeStore(kAlice);

    const QUuid clientId = QUuid::createUuid();
    store.save(recording, 3.0, clientId);
    ASSERT_EQ(store.library().clips.size(), 1);
    const MotivationClip& clip = store.library().clips[0];
    EXPECT_EQ(clip.id, clientId.toString(QUuid::WithoutBraces));
    EXPECT_EQ(clip.duration, 20.1); // the file's length, not the recorder's
    EXPECT_TRUE(clip.title.startsWith(QStringLiteral("Meine Aufnahme ")));
    EXPECT_TRUE(clip.enabled);
    EXPECT_EQ(files::read(*folderOf(kAlice).audioPath(clip.id)), audio);
    EXPECT_TRUE(QFile::exists(recording));
    EXPECT_FALSE(store.busy());

    struct Refused {
        const char* name;
        QByteArray file;
        double recorderDuration;
        std::optional<Kind> kind; // none: a file error
    };
    fixtures::Mp4Layout silent;
    silent.mediaDuration = 0;
    const Refused refused[] = {
        { "recorder says 0 s", audio, 0.0, Kind::invalid },
        { "recorder says -1 s", audio, -1.0, Kind::invalid },
        { "recorder says NaN", audio, std::nan(""), Kind::invalid },
        { "file just over 20.1 s", fixtures::mp4Lasting(20.101), 3.0, Kind::invalid },
        { "file of 0 s", fixtures::mp4(silent), 3.0, Kind::invalid },
        { "file one byte too large", fixtures::mp4Lasting(1.0, 200001), 3.0, Kind::invalid },
        { "not audio", QByteArray("plain text"), 3.0, std::nullopt },
    };
    for (const Refused& r : refused) {
        ASSERT_TRUE(fixtures::writeFile(recording, r.file));
        try {
            store.save(recording, r.recorderDuration, QUuid::createUuid());
            ADD_FAILURE() << r.name << " was accepted";
        } catch (const MotivationAudioError& error) {
            EXPECT_EQ(std::optional(error.kind()), r.kind) << r.name;
        } catch (const MotivationFileError&) {
            EXPECT_FALSE(r.kind) << r.name;
        }
        EXPECT_FALSE(store.busy()) << r.name;
        EXPECT_EQ(store.library().clips.size(), 1) << r.name;
        EXPECT_TRUE(store.message().isEmpty()) << r.name;
    }
    EXPECT_THROW(store.save(temp.filePath("missing.m4a"), 3.0, QUuid::createUuid()), MotivationFileError);
    EXPECT_EQ(folderOf(kAlice).load(), store.library());
}

TEST_F(StoreTest, PlaysOwnClipsAndDefaultLines)
{
    const QString a = addClip(kAlice);
    const QString b = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);

    store.play(a);
    EXPECT_EQ(store.playingID(), a);
    EXPECT_TRUE(m_player->opened.empty());
    drain();
    ASSERT_EQ(m_player->opened.size(), 1u);
    const auto first = m_player->last();
    EXPECT_EQ(first->path, *folderOf(kAlice).audioPath(a));
    EXPECT_TRUE(first->played);

    // A finish from a player that has been replaced changes nothing.
    store.play(b);
    drain();
    EXPECT_TRUE(first->stopped);
    first->finish(true);
    EXPECT_EQ(store.playingID(), b);
    m_player->last()->finish(false);
    EXPECT_FALSE(store.playingID());

    // Default clips speak the one German line.
    store.play(QStringLiteral("default-3"));
    drain();
    EXPECT_EQ(m_speech->spoken, QStringList { MotivationAudioStore::placeholder() });
    EXPECT_EQ(m_speech->language, QStringLiteral("de-DE"));
    EXPECT_EQ(m_speech->rate, 0.47);
    // A finish while the voice speaks again leaves the clip playing.
    m_speech->speaking = true;
    m_speech->voice->onFinished();
    EXPECT_EQ(store.playingID(), QStringLiteral("default-3"));
    m_speech->finish();
    EXPECT_FALSE(store.playingID());

    // Nothing plays over a recording.
    store.setRecordingActive(true);
    store.play(a);
    drain();
    EXPECT_FALSE(store.playingID());
    EXPECT_EQ(m_player->opened.size(), 2u);
}

TEST_F(StoreTest, StopBeforePlaybackStartsCancelsIt)
{
    const QString a = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);

    store.play(a);
    store.stop();
    store.play(QStringLiteral("default-1"));
    store.stop();
    drain();
    EXPECT_TRUE(m_player->opened.empty());
    EXPECT_TRUE(m_speech->spoken.isEmpty());
    EXPECT_FALSE(store.playingID());

    // A change of owner cancels too, and the failure that would have come is not reported.
    store.play(QStringLiteral("not-there"));
    deliverSession(*m_owners, kBob);
    drain();
    EXPECT_TRUE(store.message().isEmpty());
    EXPECT_FALSE(store.playingID());
}

TEST_F(StoreTest, PlaybackFailuresReachTheMessage)
{
    const QString a = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);

    QFile::remove(*folderOf(kAlice).audioPath(a));
    store.play(a);
    drain();
    EXPECT_EQ(store.message(), QStringLiteral("The file “%1.m4a” couldn’t be opened: there is no such file.").arg(a));
    EXPECT_FALSE(store.playingID());

    const QString b = addClip(kAlice);
    m_player->starts = false;
    store.play(b);
    drain();
    EXPECT_EQ(store.message(), MotivationAudioError::text(Kind::invalid));
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(m_player->last()->stopped);
}

TEST_F(StoreTest, NudgePicksAnEnabledClipOnlyWhenItMay)
{
    addClip(std::nullopt);
    MotivationAudioStore& store = makeStore();
    store.refresh();
    store.nudge();
    drain();
    EXPECT_TRUE(m_random->counts.empty()) << "nothing plays while signed out";
    EXPECT_FALSE(store.playingID());

    // Signed in with only the defaults: one of the five.
    deliverSession(*m_owners, kAlice);
    m_random->next = 4;
    store.nudge();
    EXPECT_EQ(m_random->counts, std::vector<qsizetype> { 5 });
    EXPECT_EQ(store.playingID(), QStringLiteral("default-5"));

    // Not while something plays or records.
    store.nudge();
    store.stop();
    store.setRecordingActive(true);
    store.nudge();
    store.setRecordingActive(false);
    EXPECT_EQ(m_random->counts.size(), 1u);
    EXPECT_FALSE(store.playingID());

    // The candidates: enabled defaults in order, then enabled own clips in library order.
    const QString a = addClip(kAlice);
    addClip(kAlice, /*enabled=*/false);
    const QString c = addClip(kAlice);
    store.refresh();
    store.setEnabled(QStringLiteral("default-2"), false);
    const QStringList candidates { "default-1", "default-3", "default-4", "default-5", a, c };
    for (qsizetype i = 0; i < candidates.size(); ++i) {
        m_random->next = i;
        store.nudge();
        EXPECT_EQ(m_random->counts.back(), candidates.size());
        EXPECT_EQ(store.playingID(), candidates[i]);
        store.stop();
    }

    // Nothing enabled: nothing plays and nothing is said.
    for (const QString& id : motivation::defaultIds())
        store.setEnabled(id, false);
    store.setEnabled(a, false);
    store.setEnabled(c, false);
    const size_t asked = m_random->counts.size();
    store.nudge();
    EXPECT_EQ(m_random->counts.size(), asked);
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(store.message().isEmpty());
}

TEST_F(StoreTest, RemoveStopsPlaybackBeforeDeleting)
{
    const QString a = addClip(kAlice);
    const QString b = addClip(kAlice);
    MotivationAudioStore& store = makeStore(kAlice);
    store.play(a);
    drain();

    store.remove(store.library().clips[0]);
    EXPECT_FALSE(store.playingID());
    EXPECT_TRUE(m_player->last()->fileExistedAtStop);
    EXPECT_FALSE(QFile::exists(*folderOf(kAlice).audioPath(a)));
    ASSERT_EQ(store.library().clips.size(), 1);
    EXPECT_EQ(store.library().clips[0].id, b);

    // A failure is reported through the message, and the clip stays.
    const QString audio = *folderOf(kAlice).audioPath(b);
    QFile::remove(audio);
    ASSERT_TRUE(QDir().mkpath(audio + "/inner"));
    store.remove(store.library().clips[0]);
    EXPECT_TRUE(store.message().contains(b)) << store.message().toStdString();
    EXPECT_EQ(store.library().clips.size(), 1);
    EXPECT_FALSE(store.busy());
}

TEST_F(StoreTest, DeleteRecordingsOfAnAccount)
{
    addClip(kAlice);
    addClip(kBob);
    MotivationAudioStore& store = makeStore(kAlice);
    store.play(QStringLiteral("default-1"));
    drain();

    store.deleteRecordings(kBob);
    EXPECT_FALSE(store.playingID());
    EXPECT_FALSE(m_speech->speaking);
    EXPECT_FALSE(QFileInfo::exists(MotivationAudioStore::directoryFor(kBob)));
    EXPECT_EQ(store.library().clips.size(), 1);

    store.deleteRecordings(kAlice);
    EXPECT_TRUE(store.library().clips.isEmpty());
    EXPECT_EQ(store.owner(), kAlice);
    EXPECT_FALSE(QFileInfo::exists(MotivationAudioStore::directoryFor(kAlice)));
    EXPECT_NO_THROW(store.deleteRecordings(kAlice));
}
