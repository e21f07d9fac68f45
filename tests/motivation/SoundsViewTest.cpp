// The Sounds screen's and the recording sheet's rules over a real store and account, with a scripted
// recorder and microphone; and their QML loaded offscreen, each part found by its name.
#include <QDir>
#include <QQmlContext>
#include <QQuickItem>
#include <QQuickView>
#include <gtest/gtest.h>

#include "RecorderRig.h"
#include "support/RunTask.h"
#include "Tovrick/motivation/MotivationQml.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "shared/util/AppPaths.h"

namespace {

const QString kUser = QStringLiteral("user-sounds");

AccountSession sessionOf(const QString& userId)
{
    AccountSession session;
    session.userId = userId;
    session.deviceToken = QStringLiteral("tvk_token");
    session.expiresAt = 4102444800000.0;
    return session;
}

class SoundsViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(AppPaths::appFolder()).removeRecursively();
        rig.account.adoptSession(sessionOf(kUser));
        drainEvents();
        view.recordingPorts.recorder = &rig;
        view.recordingPorts.access = &rig;
        view.recordingPorts.settings = SoundSettingsTool { QStringLiteral("/usr/bin/sound-settings"), {} };
        view.recordingPorts.launch = [this](const SoundSettingsTool& tool) {
            launched << tool.program;
            return true;
        };
    }

    // Own clips written behind the store's back, then picked up by showing the screen.
    void ownClips(int count)
    {
        const LocalMotivationLibrary folder(MotivationAudioStore::directoryFor(kUser));
        for (int n = 0; n < count; ++n)
            folder.add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Clip %1").arg(n), 1.0);
        view.setShown(false);
        view.setShown(true);
    }

    // Opens the sheet and records until the file is complete.
    MotivationRecordingView& recorded(double seconds)
    {
        view.openRecording();
        EXPECT_TRUE(waitUntil([&] { return view.sheet() && view.sheet()->phase() == QStringLiteral("recording"); }));
        rig.time = seconds;
        view.sheet()->stopRecording();
        rig.finish(true, seconds);
        drainEvents();
        EXPECT_EQ(view.sheet()->phase(), QStringLiteral("stopped"));
        return *view.sheet();
    }

    RecorderRig rig;
    MotivationSoundsView view { *rig.store, rig.account };
    QStringList launched;
};

QVariantMap tileOf(const QVariantList& tiles, const QString& id)
{
    for (const QVariant& tile : tiles)
        if (tile.toMap().value(QStringLiteral("id")) == id)
            return tile.toMap();
    return {};
}

} // namespace

TEST_F(SoundsViewTest, LimitBannerAndRecordTile)
{
    const struct {
        int clips;
        bool signedIn;
        bool limit, own, recordDisabled;
        double opacity;
    } cases[] = {
        { 0, true, false, false, false, 1.0 }, { 9, true, false, true, false, 1.0 },
        { 10, true, true, true, true, 0.45 },  { 0, false, false, false, true, 1.0 },
    };
    for (const auto& c : cases) {
        QDir(AppPaths::appFolder()).removeRecursively();
        if (c.signedIn)
            rig.account.adoptSession(sessionOf(kUser));
        ownClips(c.clips);
        if (!c.signedIn) {
            AccountSession expired = sessionOf(kUser);
            expired.expiresAt = 1000;
            rig.account.adoptSession(expired);
        }
        drainEvents();
        EXPECT_EQ(view.limitReached(), c.limit) << c.clips;
        EXPECT_EQ(view.ownSectionShown(), c.own) << c.clips;
        EXPECT_EQ(view.recordDisabled(), c.recordDisabled) << c.clips << c.signedIn;
        EXPECT_EQ(view.recordOpacity(), c.opacity) << c.clips;
        EXPECT_EQ(view.defaultTiles().size(), 5);
        EXPECT_EQ(view.ownTiles().size(), c.signedIn ? c.clips : 0);
    }
}

TEST_F(SoundsViewTest, BusyDisablesSwitchesAndRecordingAtFullOpacity)
{
    view.setShown(true);
    bool seen = false;
    QObject::connect(rig.store.get(), &MotivationAudioStore::busyChanged, &view, [&] {
        if (!rig.store->busy())
            return;
        seen = true;
        EXPECT_TRUE(view.recordDisabled());
        EXPECT_EQ(view.recordOpacity(), 1.0);
        EXPECT_TRUE(view.busy());
    });
    view.setSwitch(QStringLiteral("default-3"), false);
    // The switch follows the store, which takes the change up afterwards.
    EXPECT_TRUE(tileOf(view.defaultTiles(), QStringLiteral("default-3")).value(QStringLiteral("on")).toBool());
    drainEvents();
    EXPECT_TRUE(seen);
    EXPECT_FALSE(tileOf(view.defaultTiles(), QStringLiteral("default-3")).value(QStringLiteral("on")).toBool());
}

TEST_F(SoundsViewTest, TilesLabelWhatPlays)
{
    ownClips(1);
    const QVariantMap own = view.ownTiles().value(0).toMap();
    EXPECT_TRUE(own.value(QStringLiteral("own")).toBool());
    EXPECT_EQ(own.value(QStringLiteral("deleteLabel")).toString(), QStringLiteral("Clip 0 löschen"));
    EXPECT_FALSE(own.contains(QStringLiteral("duration")));

    view.togglePlay(QStringLiteral("default-2"));
    QVariantMap playing = tileOf(view.defaultTiles(), QStringLiteral("default-2"));
    EXPECT_EQ(playing.value(QStringLiteral("playLabel")).toString(), QStringLiteral("Wiedergabe stoppen"));
    EXPECT_EQ(playing.value(QStringLiteral("symbol")).toString(), QStringLiteral("stop.fill"));
    const QVariantMap other = tileOf(view.defaultTiles(), QStringLiteral("default-1"));
    EXPECT_EQ(other.value(QStringLiteral("playLabel")).toString(), QStringLiteral("Du schaffst das anhören"));
    EXPECT_FALSE(other.value(QStringLiteral("own")).toBool());

    view.togglePlay(QStringLiteral("default-1"));
    EXPECT_EQ(rig.store->playingID(), QStringLiteral("default-1"));
    view.togglePlay(QStringLiteral("default-1"));
    EXPECT_FALSE(rig.store->playingID());
    EXPECT_EQ(tileOf(view.defaultTiles(), QStringLiteral("default-1")).value(QStringLiteral("symbol")).toString(),
              QStringLiteral("play.fill"));
}

TEST_F(SoundsViewTest, DeleteAsksFirstAndClearsAtOnce)
{
    ownClips(2);
    const QString first = view.ownTiles().value(0).toMap().value(QStringLiteral("id")).toString();
    view.askDelete(first);
    ASSERT_TRUE(view.deleteDialogShown());
    view.dismissDelete();
    drainEvents();
    EXPECT_EQ(view.ownTiles().size(), 2);

    view.askDelete(first);
    view.confirmDelete();
    EXPECT_FALSE(view.deleteDialogShown());
    EXPECT_EQ(view.ownTiles().size(), 2);
    drainEvents();
    ASSERT_EQ(view.ownTiles().size(), 1);
    EXPECT_NE(view.ownTiles().value(0).toMap().value(QStringLiteral("id")).toString(), first);
    // Default clips cannot be deleted.
    view.askDelete(QStringLiteral("default-1"));
    EXPECT_FALSE(view.deleteDialogShown());
}

TEST_F(SoundsViewTest, RefreshesOnShowAndOnANewUserAndSilencesWhenLeft)
{
    view.setShown(true);
    EXPECT_TRUE(view.ownTiles().isEmpty());
    LocalMotivationLibrary(MotivationAudioStore::directoryFor(QStringLiteral("user-other")))
        .add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Other"), 1.0);
    rig.account.adoptSession(sessionOf(QStringLiteral("user-other")));
    drainEvents();
    ASSERT_EQ(view.ownTiles().size(), 1);
    EXPECT_EQ(view.ownTiles().value(0).toMap().value(QStringLiteral("title")).toString(), QStringLiteral("Other"));

    view.togglePlay(QStringLiteral("default-4"));
    view.setWindowActive(false);
    EXPECT_FALSE(rig.store->playingID());
    view.togglePlay(QStringLiteral("default-4"));
    view.setShown(false);
    EXPECT_FALSE(rig.store->playingID());
}

TEST_F(SoundsViewTest, LeavingTheScreenOrAChangeOfUserDropsTheDeleteQuestion)
{
    const std::function<void()> causes[] = {
        [&] { view.setShown(false); },
        [&] { rig.account.adoptSession(sessionOf(QStringLiteral("user-other"))); },
    };
    for (const auto& cause : causes) {
        rig.account.adoptSession(sessionOf(kUser));
        ownClips(1);
        view.askDelete(view.ownTiles().value(0).toMap().value(QStringLiteral("id")).toString());
        ASSERT_TRUE(view.deleteDialogShown());
        cause();
        EXPECT_FALSE(view.deleteDialogShown());
    }
}

TEST_F(SoundsViewTest, RecordingStopsPlaybackAndASaveClosesTheSheet)
{
    view.setShown(true);
    view.togglePlay(QStringLiteral("default-1"));
    MotivationRecordingView& sheet = recorded(4.6);
    EXPECT_FALSE(rig.store->playingID());
    EXPECT_EQ(sheet.timeText(), QStringLiteral("4 / 20 Sekunden"));
    const QString file = rig.path;

    sheet.save();
    EXPECT_TRUE(sheet.saving());
    EXPECT_EQ(sheet.saveTitle(), QStringLiteral("Wird gespeichert …"));
    // A close while saving is refused.
    sheet.close();
    EXPECT_TRUE(view.recording());
    drainEvents();
    EXPECT_FALSE(view.recording());
    ASSERT_EQ(view.ownTiles().size(), 1);
    EXPECT_FALSE(QFile::exists(file));
    EXPECT_EQ(rig.store->library().clips.first().duration, 4.6);
}

TEST_F(SoundsViewTest, ARefusedSaveShowsTheStoresTextAndKeepsTheRecording)
{
    ownClips(9);
    MotivationRecordingView& sheet = recorded(3);
    // A tenth clip arrives meanwhile.
    LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser))
        .add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Late"), 1.0);
    sheet.save();
    drainEvents();
    EXPECT_EQ(sheet.error(), MotivationAudioError::text(MotivationAudioError::Kind::limit));
    EXPECT_FALSE(sheet.saving());
    EXPECT_EQ(sheet.phase(), QStringLiteral("stopped"));
    EXPECT_TRUE(view.recording());
    const QString file = rig.path;
    EXPECT_TRUE(QFile::exists(file));
    sheet.discard();
    drainEvents();
    EXPECT_FALSE(view.recording());
    EXPECT_FALSE(QFile::exists(file));
}

TEST_F(SoundsViewTest, AnInactiveWindowEndsTheRecordingAsStopWould)
{
    view.openRecording();
    ASSERT_TRUE(waitUntil([&] { return view.sheet()->phase() == QStringLiteral("recording"); }));
    rig.time = 6.2;
    view.setWindowActive(false);
    rig.finish(true, 6.2);
    drainEvents();
    EXPECT_EQ(view.sheet()->phase(), QStringLiteral("stopped"));
    EXPECT_EQ(view.sheet()->timeText(), QStringLiteral("6 / 20 Sekunden"));
}

TEST_F(SoundsViewTest, RefusedMicrophoneOffersTheSettingsOnlyWhenThereIsATool)
{
    for (const bool tool : { true, false }) {
        if (!tool)
            view.recordingPorts.settings.reset();
        rig.granted = false;
        view.openRecording();
        drainEvents();
        MotivationRecordingView* sheet = view.sheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->phase(), QStringLiteral("failed"));
        EXPECT_EQ(sheet->settingsShown(), tool);
        sheet->openMicrophoneSettings();
        EXPECT_EQ(sheet->phase(), QStringLiteral("failed"));
        sheet->close();
        drainEvents();
        EXPECT_FALSE(view.recording());
    }
    EXPECT_EQ(launched, QStringList { QStringLiteral("/usr/bin/sound-settings") });
}

TEST_F(SoundsViewTest, TilesChangeInPlaceRowByRow)
{
    ownClips(2);
    // What each model tells its views, as lines: a change names its row and roles.
    QStringList told;
    const auto listen = [&](QObject* object, const QString& grid) {
        auto* model = qobject_cast<QAbstractItemModel*>(object);
        QObject::connect(model, &QAbstractItemModel::modelReset, &view, [&told, grid] { told << grid + QStringLiteral(" reset"); });
        QObject::connect(model, &QAbstractItemModel::rowsInserted, &view, [&told, grid](const QModelIndex&, int first) {
            told << grid + QStringLiteral(" inserted %1").arg(first);
        });
        QObject::connect(model, &QAbstractItemModel::rowsRemoved, &view, [&told, grid](const QModelIndex&, int first) {
            told << grid + QStringLiteral(" removed %1").arg(first);
        });
        QObject::connect(model, &QAbstractItemModel::dataChanged, &view,
                         [&told, grid, model](const QModelIndex& from, const QModelIndex& to, const QList<int>& roles) {
            QStringList names;
            for (int role : roles)
                names << QString::fromLatin1(model->roleNames().value(role));
            names.sort();
            told << grid + QStringLiteral(" %1-%2 %3").arg(from.row()).arg(to.row()).arg(names.join(u','));
        });
    };
    listen(view.defaultModel(), QStringLiteral("default"));
    listen(view.ownModel(), QStringLiteral("own"));
    const QString firstOwn = view.ownTiles().value(0).toMap().value(QStringLiteral("id")).toString();
    const struct {
        const char* what;
        std::function<void()> act;
        QStringList expected;
    } steps[] = {
        { "play", [&] { view.togglePlay(QStringLiteral("default-2")); },
          { QStringLiteral("default 1-1 playLabel,playing,symbol") } },
        { "another plays", [&] { view.togglePlay(QStringLiteral("default-3")); },
          { QStringLiteral("default 1-1 playLabel,playing,symbol"), QStringLiteral("default 2-2 playLabel,playing,symbol") } },
        { "switch", [&] { view.setSwitch(QStringLiteral("default-5"), false); },
          { QStringLiteral("default 4-4 on") } },
        { "own switch", [&] { view.setSwitch(firstOwn, false); }, { QStringLiteral("own 0-0 on") } },
        { "recorded", [&] {
              LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser))
                  .add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Clip 2"), 1.0);
              rig.store->refresh();
          }, { QStringLiteral("own inserted 2") } },
        { "deleted", [&] {
              view.askDelete(firstOwn);
              view.confirmDelete();
          }, { QStringLiteral("own removed 0") } },
        // What played stops; the signed-out library: every default on, no own clips.
        { "signed out", [&] { rig.account.clearSession(); },
          { QStringLiteral("default 2-2 playLabel,playing,symbol"), QStringLiteral("default 4-4 on"), QStringLiteral("own removed 1"), QStringLiteral("own removed 0") } },
    };
    for (const auto& step : steps) {
        told.clear();
        step.act();
        drainEvents();
        EXPECT_EQ(told.join(QStringLiteral("; ")).toStdString(), step.expected.join(QStringLiteral("; ")).toStdString()) << step.what;
    }
}

namespace {

// The screen in a window of its own, as the focus window holds it.
struct ScreenWindow {
    explicit ScreenWindow(MotivationSoundsView& view)
    {
        motivationQml::registerTypes();
        window.rootContext()->setContextProperty(QStringLiteral("soundsView"), &view);
        window.setResizeMode(QQuickView::SizeRootObjectToView);
        window.resize(600, 900);
        window.setSource(QUrl(QString::fromLatin1(motivationQml::soundsPage)));
        window.show();
        drainEvents();
    }
    QObject* find(const QString& name) { return window.rootObject()->findChild<QObject*>(name); }
    bool shows(const QString& name)
    {
        auto* item = qobject_cast<QQuickItem*>(find(name));
        return item && item->isVisible();
    }
    QQuickView window;
};

} // namespace

TEST_F(SoundsViewTest, ScreenAndSheetPhasesLoad)
{
    ownClips(10);
    ScreenWindow screen(view);
    ASSERT_TRUE(screen.window.errors().isEmpty()) << screen.window.errors().value(0).toString().toStdString();
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationSoundsBanner")));
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationOwnHeading")));
    auto* record = qobject_cast<QQuickItem*>(screen.find(QStringLiteral("recordMotivation")));
    ASSERT_TRUE(record);
    EXPECT_FALSE(record->isEnabled());
    EXPECT_DOUBLE_EQ(record->opacity(), 0.45);

    view.askDelete(view.ownTiles().value(0).toMap().value(QStringLiteral("id")).toString());
    view.confirmDelete();
    drainEvents();
    EXPECT_FALSE(screen.shows(QStringLiteral("motivationSoundsBanner")));

    rig.granted.reset();
    view.openRecording();
    drainEvents();
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationRecordingPreparing")));
    EXPECT_FALSE(screen.shows(QStringLiteral("stopMotivationRecording")));
    rig.answer(true);
    ASSERT_TRUE(waitUntil([&] { return screen.shows(QStringLiteral("stopMotivationRecording")); }));
    EXPECT_EQ(screen.find(QStringLiteral("motivationRecordingTime"))->property("text").toString(),
              QStringLiteral("0 / 20 Sekunden"));
    rig.time = 2.5;
    view.sheet()->stopRecording();
    rig.finish(true, 2.5);
    drainEvents();
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationSaveRecording")));
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationDiscardRecording")));
    EXPECT_FALSE(screen.shows(QStringLiteral("motivationCloseRecording")));
    view.sheet()->discard();
    drainEvents();

    rig.granted = false;
    view.openRecording();
    drainEvents();
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationRecordingMessage")));
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationOpenMicrophoneSettings")));
    EXPECT_TRUE(screen.shows(QStringLiteral("motivationCloseRecording")));
}
