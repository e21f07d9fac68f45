// Writes a PNG of each page and state the program draws, on the X display it runs on (a virtual one
// under scripts/screenshots):
//   tovrick-screenshots <folder> [name-filter]
// TOVRICK_SCREENSHOT_SUFFIX, when set, is added to every file name.
// Each page is a function below, listed in `pages`; add new ones there.
#include <QDir>
#include <QDateTime>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QQuickItem>
#include <QQuickView>
#include <QRasterWindow>
#include <QScreen>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>
#include <memory>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/focus/FocusHistoryPage.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/phone/PairingPanel.h"
#include "Tovrick/phone/PairingView.h"
#include "support/LoopbackApi.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "focus/FocusWindowWorld.h"
#include "motivation/RecorderRig.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "shared/util/AppPaths.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "shared/art/BlobPortrait.h"
#include "shared/art/ButlerArtwork.h"
#include "shared/onboarding/OnboardingView.h"
#include "shared/ui/LocalOnlyNetwork.h"
#include "shared/util/Settings.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

namespace {

void settle(int milliseconds = 250)
{
    settleFor(std::chrono::milliseconds(milliseconds));
}

// A desktop with an open document window, so that pictures show the overlay over something.
class Desktop : public QRasterWindow {
public:
    static inline const QRect document { 160, 120, 900, 560 };
    static inline const QRect button { 860, 600, 160, 44 };

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        QLinearGradient sky(0, 0, width(), height());
        sky.setColorAt(0, QColor(0x2E, 0x3A, 0x59));
        sky.setColorAt(1, QColor(0x6B, 0x7F, 0xA8));
        painter.fillRect(QRect(QPoint(), size()), sky);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(250, 250, 248));
        painter.drawRoundedRect(document, 10, 10);
        painter.setBrush(QColor(232, 232, 236));
        painter.drawRoundedRect(QRect(document.topLeft(), QSize(document.width(), 36)), 10, 10);
        painter.setPen(QColor(40, 40, 48));
        QFont font(QStringLiteral("DejaVu Sans"));
        font.setPixelSize(22);
        painter.setFont(font);
        painter.drawText(document.topLeft() + QPoint(40, 90), QStringLiteral("Quarterly report"));
        font.setPixelSize(15);
        painter.setFont(font);
        const char* lines[] = { "Revenue grew in every region but one.", "Costs stayed flat against the plan.",
                                "Next: finish the summary and send it to the team." };
        int y = 140;
        for (const char* line : lines) {
            painter.drawText(document.left() + 40, document.top() + y, QString::fromLatin1(line));
            y += 30;
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0x2F, 0x6F, 0xEB));
        painter.drawRoundedRect(button, 8, 8);
        painter.setPen(Qt::white);
        painter.drawText(button, Qt::AlignCenter, QStringLiteral("Send report"));
    }
};

// One overlay on a hand-turned clock and a still pointer.
struct Scene {
    double now = 1000;
    QPointF mouse { 640, 420 };
    CursorOverlay overlay { CursorEngine::Environment { [this] { return now; }, [this] { return mouse; } } };

    CursorView& view() { return overlay.view(); }
    void run(double seconds)
    {
        for (double end = now + seconds; now < end; now += 1.0 / 60)
            overlay.step();
        overlay.step();
    }
    // The union of the overlay's visible windows, grown by `margin`.
    QRect shown(int margin = 40)
    {
        QRect area;
        std::vector<OverlaySprite*> windows = view().ringWindows();
        for (OverlaySprite* window : { view().characterWindow(), view().bubbleWindow(), view().labelWindow(),
                                       view().photoWindow() })
            windows.push_back(window);
        for (OverlaySprite* window : windows)
            if (window && window->isVisible())
                area = area.united(window->geometry());
        return area.adjusted(-margin, -margin, margin, margin);
    }
};

bool save(const QImage& image, const QString& folder, const QString& name)
{
    // Runs beside a compositing manager name their pictures apart.
    const QString suffix = qEnvironmentVariable("TOVRICK_SCREENSHOT_SUFFIX");
    const QString path = QDir(folder).filePath(name + suffix + QStringLiteral(".png"));
    const bool ok = image.save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

bool grab(Scene& scene, const QString& folder, const QString& name, QRect area = {})
{
    settle();
    if (area.isNull())
        area = scene.shown();
    const QImage image = QGuiApplication::primaryScreen()->grabWindow(0, area.x(), area.y(), area.width(), area.height()).toImage();
    return save(image, folder, name);
}

using Page = std::function<bool(const QString& folder)>;

bool following(const QString& folder)
{
    Scene scene;
    scene.run(1.5);
    return grab(scene, folder, QStringLiteral("character-following"));
}

bool flyingAndPinned(const QString& folder)
{
    Scene scene;
    scene.run(0.5);
    const QPointF target = Desktop::button.center();
    scene.view().engine().setMode(CursorMode::pinned(target));
    scene.overlay.step();
    const Flight flight = *scene.view().engine().flight();
    scene.run(flight.duration * 0.5);
    const QRect path = QRectF(flight.from, flight.to).normalized().toAlignedRect().adjusted(-60, -160, 140, 140);
    bool ok = grab(scene, folder, QStringLiteral("character-flying"), path);
    scene.view().engine().setGazeOverride(target);
    scene.run(flight.duration);
    ok = grab(scene, folder, QStringLiteral("character-pinned"), path) && ok;
    return ok;
}

bool bubbles(const QString& folder)
{
    Scene scene;
    scene.run(0.5);
    scene.view().setCaption(QStringLiteral("That's the report. Shall I send it for you?"));
    scene.run(0.2);
    bool ok = grab(scene, folder, QStringLiteral("bubble-caption"));
    scene.view().engine().setMode(CursorMode::pinned(Desktop::button.center()));
    scene.view().setSpeechTarget(QRectF(Desktop::button));
    scene.view().setCaption(QStringLiteral("Click \"Send report\" when you are ready."));
    scene.run(1.5);
    ok = grab(scene, folder, QStringLiteral("bubble-speech-target")) && ok;
    return ok;
}

bool label(const QString& folder)
{
    Scene scene;
    scene.run(0.5);
    scene.view().showLabel(QStringLiteral("Focus: 24:58"), 5);
    scene.run(0.1);
    return grab(scene, folder, QStringLiteral("label"));
}

bool rings(const QString& folder)
{
    bool ok = true;
    for (const bool right : { false, true }) {
        Scene scene;
        scene.run(0.5);
        scene.view().ringBurst(scene.mouse, right);
        scene.run(0.12);
        ok = grab(scene, folder, right ? QStringLiteral("ring-burst-right") : QStringLiteral("ring-burst-left")) && ok;
    }
    return ok;
}

bool goalPhoto(const QString& folder)
{
    Scene scene;
    scene.run(0.5);
    scene.view().loadFallbackGoalImage();
    scene.view().setCaption(QStringLiteral("Remember why you started."));
    scene.run(0.5);
    return grab(scene, folder, QStringLiteral("goal-photo"));
}

bool asleep(const QString& folder)
{
    Scene scene;
    scene.run(0.5);
    scene.view().engine().setAwake(false);
    scene.run(0.1);
    return grab(scene, folder, QStringLiteral("asleep"));
}

bool moods(const QString& folder)
{
    const Mood all[] = { Mood::listening, Mood::resting, Mood::thinking, Mood::talking,
                         Mood::pointing, Mood::happy, Mood::sleepy };
    QImage sheet(7 * 130, 150, QImage::Format_ARGB32_Premultiplied);
    sheet.fill(QColor(0xF4, 0xF1, 0xFA));
    QPainter painter(&sheet);
    int column = 0;
    for (const Mood mood : all) {
        ButlerPose pose;
        pose.mood = mood;
        pose.talk = mood == Mood::talking ? 0.7 : 0;
        pose.gazeX = mood == Mood::thinking ? 0.6 : 0;
        pose.gazeY = mood == Mood::thinking ? -0.7 : 0;
        ButlerArtwork::paint(painter, QRectF(column * 130 + 10, 5, 110, 110), pose);
        painter.setPen(QColor(0x22, 0x1B, 0x35));
        painter.drawText(QRect(column * 130, 120, 130, 24), Qt::AlignCenter, moodLabel(mood));
        ++column;
    }
    painter.end();
    return save(sheet, folder, QStringLiteral("moods"));
}

bool portraits(const QString& folder)
{
    BlobPortrait::registerQmlType();
    QTemporaryDir temporary;
    const QString page = temporary.filePath(QStringLiteral("Portraits.qml"));
    QFile file(page);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(R"(
        import QtQuick
        import Tovrick.Art 1.0
        Rectangle {
            color: "#f4f1fa"
            Row {
                x: 20; y: 20; spacing: 24
                BlobPortrait { width: 36; height: 36 }
                BlobPortrait { width: 36; height: 36; showLimbs: true }
                BlobPortrait { width: 280; height: 280 }
                BlobPortrait { width: 280; height: 280; showLimbs: true }
            }
        })");
    file.close();
    QQuickView view;
    localOnlyNetwork::install(*view.engine());
    view.setResizeMode(QQuickView::SizeRootObjectToView);
    view.setGeometry(40, 40, 720, 320);
    view.setSource(QUrl::fromLocalFile(page));
    view.show();
    settle(400);
    return save(view.grabWindow(), folder, QStringLiteral("blob-portraits"));
}

// Every page of the first-run flow with its animations run out, answered the way a user would, in
// a phone-sized window; the hold page also half held and just committed.
bool onboarding(const QString& folder)
{
    QTemporaryDir temporary;
    Settings::useFile(temporary.filePath(QStringLiteral("settings.ini")));
    bool ok = true;
    for (int page = 0; page < OnboardingModel::kTotal; ++page) {
        Settings::shared().setNumber(OnboardingModel::kPageKey, page);
        OnboardingView view(true);
        QQuickView* window = view.window();
        window->setPosition(40, 40);
        window->show();
        OnboardingModel& model = view.model();
        if (const std::optional<QString> key = OnboardingModel::questionKeyOf(page)) {
            const QStringList options = OnboardingModel::options(*key);
            const bool multiple = page == 5 || page == 6;
            model.selectOption(multiple, *key, false, OnboardingModel::labelOf(options.value(page == 8 ? 2 : 1)));
            if (multiple)
                model.selectOption(true, *key, false, OnboardingModel::labelOf(options.value(3)));
        }
        if (page == 3)
            model.setProgress(0.3);
        if (page == 12)
            model.setHours(5);
        const QString name = QStringLiteral("onboarding-%1").arg(page, 2, 10, QLatin1Char('0'));
        if (page == OnboardingModel::kHoldPage) {
            settle(400);
            model.holdChanged();
            settle(850);
            ok = save(window->grabWindow(), folder, name + QStringLiteral("-holding")) && ok;
            model.holdEnded();
            model.commitNow();
            settle(150);
            ok = save(window->grabWindow(), folder, name + QStringLiteral("-committed")) && ok;
            model.go(-1);
            model.go(1);
        }
        settle(page == 10 || page == 13 || page == 15 || page == 18 ? 3500 : 500);
        ok = save(window->grabWindow(), folder, name) && ok;
    }
    return ok;
}

// The focus and account window over a scripted engine, its own account and screen access whose
// test capture works until told otherwise: fixed data, real views.
struct FocusWindowScene : FocusWindowWorld {
    MacFocusPanel panel { &account, &access };

    explicit FocusWindowScene(bool signedIn = true)
    {
        if (signedIn)
            account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
        panel.setVisionLibrary(vision);
        panel.show(*engine, [] {});
    }
    MacFocusView& view() { return *panel.view(); }
    // Runs an awaiting action of the view to its end.
    void await(QCoro::Task<> task)
    {
        bool done = false;
        QEventLoop loop;
        auto waiter = [](QCoro::Task<> inner, bool* finished, QEventLoop* waiting) -> QCoro::Task<> {
            co_await std::move(inner);
            *finished = true;
            waiting->quit();
        };
        auto running = waiter(std::move(task), &done, &loop);
        if (!done) {
            QTimer::singleShot(5000, &loop, &QEventLoop::quit);
            loop.exec();
        }
    }
    void startSession(const QString& task, int minutes)
    {
        view().setTask(task);
        view().setMinutes(minutes);
        await(view().start());
        view().setMessage({});
    }
    bool shoot(const QString& folder, const QString& name)
    {
        settle(300);
        return save(panel.window()->grabWindow(), folder, name);
    }
};

bool focusWindowStart(const QString& folder)
{
    bool ok = true;
    {
        FocusWindowScene scene(false);
        ok = scene.shoot(folder, QStringLiteral("focus-window-signed-out")) && ok;
    }
    FocusWindowScene scene;
    ok = scene.shoot(folder, QStringLiteral("focus-window-idle")) && ok;
    scene.view().setTask(QStringLiteral("Finish the quarterly report summary and send it to the team"));
    scene.view().setMinutes(45);
    if (QQuickItem* custom = findItem(scene.panel.window()->rootObject(), QStringLiteral("macFocusCustom")))
        custom->setProperty("expanded", true);
    ok = scene.shoot(folder, QStringLiteral("focus-window-custom-duration")) && ok;
    scene.captureWorks = false;
    scene.await(scene.view().start());
    ok = scene.shoot(folder, QStringLiteral("focus-window-banner")) && ok;
    scene.view().setMessage({});
    scene.view().setTask(QStringLiteral("Finish the quarterly report summary\nCheck the figures again\n"
                                        "Send it to the team\nBook the review meeting\nTidy the shared folder"));
    ok = scene.shoot(folder, QStringLiteral("focus-window-long-task")) && ok;
    return ok;
}

bool focusWindowLive(const QString& folder)
{
    bool ok = true;
    {
        FocusWindowScene scene;
        scene.startSession(QStringLiteral("Finish the quarterly report"), 25);
        scene.world.run(*scene.engine, 7 * 60 + 14);
        ok = scene.shoot(folder, QStringLiteral("focus-window-running")) && ok;
        scene.view().pauseOrResume();
        ok = scene.shoot(folder, QStringLiteral("focus-window-paused")) && ok;
    }
    FocusWindowScene scene;
    scene.engine->setDeveloperMode(true);
    scene.startSession(QStringLiteral("Try the developer clock"), 15);
    scene.world.run(*scene.engine, 40);
    scene.captureWorks = false;
    scene.await(scene.view().recheckAccess());
    ok = scene.shoot(folder, QStringLiteral("focus-window-developer-no-access")) && ok;
    return ok;
}

bool focusWindowPages(const QString& folder)
{
    bool ok = true;
    FocusWindowScene scene;
    for (const FocusPage page : { FocusPage::history, FocusPage::vision, FocusPage::sounds, FocusPage::account }) {
        scene.view().selectPage(static_cast<int>(page));
        ok = scene.shoot(folder, QStringLiteral("focus-window-page-") + focusPage::title(page).toLower().replace(u' ', u'-'))
            && ok;
    }
    scene.view().setConfirmDelete(true);
    ok = scene.shoot(folder, QStringLiteral("focus-window-delete-confirmation")) && ok;
    return ok;
}

// The Sounds page with clips of its own, the delete question and each phase of the recording sheet,
// over a scripted recorder and microphone, in a folder of its own.
bool soundsPage(const QString& folder)
{
    QTemporaryDir temporary;
    AppPaths::overrideRoot(temporary.path());
    bool ok = true;
    FocusWindowWorld world;
    RecorderRig rig;
    world.account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
    rig.account.adoptSession(focusWindowSession(QStringLiteral("user-1")));
    const LocalMotivationLibrary library(MotivationAudioStore::directoryFor(QStringLiteral("user-1")));
    const QStringList titles = { QStringLiteral("Meine Aufnahme 07.12.2026, 09:14"),
                                 QStringLiteral("Meine Aufnahme 07.12.2026, 16:02"),
                                 QStringLiteral("Meine Aufnahme 08.12.2026, 08:30") };
    for (const QString& title : titles)
        library.add(fixtures::mp4Lasting(4.0), QUuid::createUuid(), title, 4.0);
    MacFocusPanel panel { &world.account, &world.access };
    panel.clipStore = rig.store.get();
    panel.show(*world.engine, [] {});
    panel.window()->resize(640, 1000);
    MotivationSoundsView& sounds = *panel.sounds();
    sounds.recordingPorts.recorder = &rig;
    sounds.recordingPorts.access = &rig;
    sounds.recordingPorts.settings = SoundSettingsTool { QStringLiteral("pavucontrol"), {} };
    panel.view()->selectPage(static_cast<int>(FocusPage::sounds));
    rig.store->setEnabled(QStringLiteral("default-4"), false);
    auto shoot = [&](const QString& name) {
        settle(300);
        ok = save(panel.window()->grabWindow(), folder, name) && ok;
    };
    settle(300);
    rig.store->play(QStringLiteral("default-2"));
    shoot(QStringLiteral("sounds-page"));
    // Where the keyboard is: a play button, then a switch, as Tab reaches them.
    panel.window()->requestActivate();
    QQuickItem* root = panel.window()->rootObject();
    if (QQuickItem* tile = findItem(root, QStringLiteral("motivationTile-default-1"))) {
        for (const char* control : { "motivationPlay", "motivationSwitch" }) {
            if (QQuickItem* item = findItem(tile, QString::fromLatin1(control)))
                item->forceActiveFocus(Qt::TabFocusReason);
            shoot(QStringLiteral("sounds-page-focused-") + QString::fromLatin1(control).mid(10).toLower());
        }
    }
    sounds.askDelete(rig.store->library().clips.value(1).id);
    shoot(QStringLiteral("sounds-delete-question"));
    sounds.dismissDelete();

    rig.granted.reset();
    sounds.openRecording();
    shoot(QStringLiteral("sounds-sheet-preparing"));
    rig.answer(true);
    settle(100);
    rig.time = 7.4;
    shoot(QStringLiteral("sounds-sheet-recording"));
    sounds.sheet()->stopRecording();
    rig.finish(true, 7.4);
    shoot(QStringLiteral("sounds-sheet-stopped"));
    for (int n = 0; n < 7; ++n)
        library.add(fixtures::mp4Lasting(2.0), QUuid::createUuid(), QStringLiteral("Meine Aufnahme %1").arg(n), 2.0);
    sounds.sheet()->save();
    shoot(QStringLiteral("sounds-sheet-save-refused"));
    sounds.sheet()->discard();
    settle(100);

    rig.granted = false;
    rig.store->refresh();
    sounds.setShown(false);
    sounds.setShown(true);
    shoot(QStringLiteral("sounds-page-limit"));
    library.deleteClip(rig.store->library().clips.value(0).id);
    rig.store->refresh();
    sounds.openRecording();
    shoot(QStringLiteral("sounds-sheet-no-microphone"));
    sounds.sheet()->close();
    settle(100);

    rig.granted = true;
    sounds.openRecording();
    settle(100);
    rig.time = 0.05;
    sounds.sheet()->stopRecording();
    shoot(QStringLiteral("sounds-sheet-too-short"));
    sounds.sheet()->close();
    settle(100);
    return ok;
}

// The sign-in page and the Account page in their states.
bool accountPages(const QString& folder)
{
    bool ok = true;
    {
        LoopbackApi api;
        FocusWindowScene scene(false);
        signInForTests(scene.account, api);
        scene.account.clearSession();
        ok = scene.shoot(folder, QStringLiteral("sign-in")) && ok;
        scene.account.openURL = [](const QUrl&) { return true; };
        scene.view().signInWithGoogle();
        ok = scene.shoot(folder, QStringLiteral("sign-in-busy")) && ok;
    }
    {
        FocusWindowScene scene(false);
        // A sign-in that cannot reach its service, then no address at all: both banners.
        scene.account.setAPIBaseURLForTests(QUrl(QStringLiteral("https://127.0.0.1:9/api/")));
        scene.await(scene.account.signInWithGoogle());
        scene.account.setAPIBaseURLForTests(QUrl());
        emit scene.account.messageChanged();
        ok = scene.shoot(folder, QStringLiteral("sign-in-not-configured")) && ok;
    }
    FocusWindowScene scene;
    AccountSession session = focusWindowSession(QStringLiteral("user-1"));
    session.email = QStringLiteral("robin@example.com");
    scene.account.adoptSession(session);
    scene.view().selectPage(static_cast<int>(FocusPage::account));
    ok = scene.shoot(folder, QStringLiteral("account-apple")) && ok;
    QQuickItem* root = scene.panel.window()->rootObject();
    for (const char* group : {"macAccountDeveloper", "macAccountScreenChecks", "macAccountDeletion"})
        if (QQuickItem* card = findItem(root, QString::fromLatin1(group)))
            card->setProperty("expanded", true);
    scene.view().accountPage()->setDeveloperMode(true);
    scene.account.prepareDeletion = [](QString) -> QCoro::Task<> {
        throw UserFacingError(QStringLiteral("The recordings could not be removed."));
        co_return;
    };
    scene.await(scene.account.deleteAccount());
    ok = scene.shoot(folder, QStringLiteral("account-developer-open")) && ok;
    session.authMethod = QStringLiteral("iphone");
    session.email.reset();
    scene.account.adoptSession(session);
    scene.view().setMessage({});
    ok = scene.shoot(folder, QStringLiteral("account-iphone")) && ok;
    return ok;
}

// The add-this-computer window: a code to scan, a failure, and the phone-link code shown and hidden.
bool pairingWindow(const QString& folder)
{
    bool ok = true;
    LoopbackApi api;
    MemoryDeviceVault vault;
    TovrickAccount account(vault);
    signInForTests(account, api);
    account.clearSession();
    api.answer(QStringLiteral("pairing/poll"), LoopbackAnswer::json({{"status", "pending"}}));
    api.answer(QStringLiteral("pairing/start"),
               LoopbackAnswer::json({{"pairingId", "pairing-1"}, {"code", "K7QM-2XPD"}, {"pollToken", "t"},
                                     {"expiresAt", static_cast<double>(QDateTime::currentMSecsSinceEpoch()) + 600000}}));
    PairingPanel panel(&account, [] { return PairingRecord::withKey(QStringLiteral("studio-desktop"), QByteArray(32, '\x5A')); });
    const auto shoot = [&](const QString& name) {
        settle(400);
        return save(panel.window()->grabWindow(), folder, name);
    };
    panel.show();
    ok = shoot(QStringLiteral("pairing-code")) && ok;
    api.answerOnce(QStringLiteral("pairing/start"), LoopbackAnswer::error(QStringLiteral("rate_limited"), 429));
    panel.show();
    ok = shoot(QStringLiteral("pairing-failed")) && ok;
    account.adoptSession(AccountSession::fromJson(LoopbackApi::sessionJson()));
    ok = shoot(QStringLiteral("pairing-link-code")) && ok;
    panel.view().hideLinkCode();
    ok = shoot(QStringLiteral("pairing-link-code-hidden")) && ok;
    return ok;
}

// Finished sessions for the History page: one from developer mode, one with no real time.
void giveHistory(FocusWindowScene& scene)
{
    std::vector<FocusSession> sessions;
    const struct {
        const char* task;
        int daysAgo, hour;
        double elapsed;
        std::optional<double> real;
        bool developer;
        const char* detail;
    } rows[] = {
        { "Finish the quarterly report summary and send it to the team", 0, 14, 1500, 1500, false, "Completed" },
        { "Try the developer clock", 0, 9, 2400, 600, true, "Ended early" },
        { "Read the design notes", 1, 16, 1799, std::nullopt, false, "Completed" },
    };
    const qint64 reference = 978307200;
    for (const auto& row : rows) {
        const QDateTime start(QDate::currentDate().addDays(-row.daysAgo), QTime(row.hour, 0), Qt::LocalTime);
        FocusSession session(QString::fromUtf8(row.task), 1800, false, QUuid::createUuid(),
                             static_cast<double>(start.toSecsSinceEpoch() - reference));
        session.elapsed = row.elapsed;
        session.realElapsed = row.real;
        session.detail = QString::fromUtf8(row.detail);
        if (row.developer)
            session.usedDeveloperMode = true;
        for (FocusActivity activity : { FocusActivity::onTask, FocusActivity::onTask, FocusActivity::offTask,
                                        FocusActivity::uncertain, FocusActivity::unavailable, FocusActivity::paused })
            session.checks.emplace_back(30, activity, 0.2, 0.8);
        session.end();
        sessions.push_back(session);
    }
    FocusHistoryStore store(QDir(scene.world.historyFolder()).filePath(FocusHistoryStore::fileName(QStringLiteral("user-1"))));
    store.save(sessions, std::nullopt);
    scene.engine->accountChanged(QStringLiteral("user-1"));
}

bool focusWindowHistory(const QString& folder)
{
    bool ok = true;
    FocusWindowScene scene;
    scene.view().selectPage(static_cast<int>(FocusPage::history));
    ok = scene.shoot(folder, QStringLiteral("focus-window-history-empty")) && ok;
    giveHistory(scene);
    ok = scene.shoot(folder, QStringLiteral("focus-window-history-list")) && ok;
    scene.panel.history()->toggleExpandedSession(scene.panel.history()->sessions()[1].toMap().value(QStringLiteral("id")).toString());
    ok = scene.shoot(folder, QStringLiteral("focus-window-history-open")) && ok;
    return ok;
}

// Each page with the keyboard's focus on one of its controls, its mark drawn: as Tab leaves it.
bool focusWindowFocused(const QString& folder)
{
    bool ok = true;
    FocusWindowScene scene;
    giveHistory(scene);
    scene.panel.window()->requestActivate();
    waitUntil([&] { return scene.panel.window()->isActive(); });
    QQuickItem* root = scene.panel.window()->rootObject();
    const struct {
        FocusPage page;
        const char* control;
        const char* name;
    } shots[] = {
        { FocusPage::focus, "macFocusDuration25", "focus-window-focused-focus" },
        { FocusPage::history, "historyHeader0", "focus-window-focused-history" },
        { FocusPage::vision, "visionAddImages", "focus-window-focused-vision" },
        { FocusPage::account, "macAccountPair", "focus-window-focused-account" },
        { FocusPage::account, "macAccountDeveloperToggle", "focus-window-focused-account-card" },
    };
    for (const auto& shot : shots) {
        scene.view().selectPage(static_cast<int>(shot.page));
        if (QQuickItem* control = findItem(root, QString::fromUtf8(shot.control)))
            control->forceActiveFocus(Qt::TabFocusReason);
        ok = scene.shoot(folder, QString::fromUtf8(shot.name)) && ok;
    }
    return ok;
}

// A reminder picture: a sky, a sun and a hill in colours of its own.
QImage reminderPicture(int index, QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv((index * 47) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((index * 47 + 40) % 360, 90, 120));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 220, 120));
    painter.drawEllipse(QPointF(size.width() * 0.7, size.height() * 0.3), size.height() * 0.12, size.height() * 0.12);
    painter.setBrush(QColor::fromHsv((index * 47 + 120) % 360, 140, 90));
    painter.drawEllipse(QPointF(size.width() * 0.3, size.height() * 1.1), size.width() * 0.6, size.height() * 0.5);
    return image;
}

bool focusWindowVision(const QString& folder)
{
    bool ok = true;
    FocusWindowScene scene;
    scene.view().selectPage(static_cast<int>(FocusPage::vision));
    ok = scene.shoot(folder, QStringLiteral("focus-window-vision-empty")) && ok;

    QTemporaryDir picked;
    QStringList chosen;
    const QSize sizes[] = { { 1200, 800 }, { 800, 1200 }, { 1600, 900 }, { 1000, 1000 }, { 900, 600 } };
    for (int i = 0; i < 5; ++i) {
        chosen << picked.filePath(QStringLiteral("photo-%1.jpg").arg(i));
        reminderPicture(i, sizes[i]).save(chosen.last(), "jpeg");
    }
    chosen << picked.filePath(QStringLiteral("notes.jpg"));
    QFile notes(chosen.last());
    if (notes.open(QIODevice::WriteOnly))
        notes.write("not a picture");
    notes.close();
    scene.vision.chooseImages();
    scene.chooser->answer(chosen);
    // At once: the import ends within the usual settling time.
    ok = save(scene.panel.window()->grabWindow(), folder, QStringLiteral("focus-window-vision-importing")) && ok;
    waitUntil([&] { return !scene.vision.importing(); }, std::chrono::seconds(20));
    ok = scene.shoot(folder, QStringLiteral("focus-window-vision-failure")) && ok;
    scene.vision.reload();
    ok = scene.shoot(folder, QStringLiteral("focus-window-vision-grid")) && ok;

    QDir().mkpath(scene.vision.folder());
    for (int i = 0; i < 15; ++i)
        reminderPicture(i + 5, { 600, 400 }).save(QDir(scene.vision.folder()).filePath(QStringLiteral("z%1.jpg").arg(i)), "jpeg");
    scene.vision.reload();
    ok = scene.shoot(folder, QStringLiteral("focus-window-vision-full")) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    // As the program draws its windows.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QGuiApplication app(argc, argv);
    const QStringList arguments = QGuiApplication::arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: tovrick-screenshots <folder> [name-filter]\n");
        return 2;
    }
    const QString folder = arguments[1];
    const QString filter = arguments.value(2);
    QDir().mkpath(folder);

    Desktop desktop;
    desktop.setGeometry(QGuiApplication::primaryScreen()->geometry());
    desktop.show();
    settle(300);

    bool statusMenuPictures(const QString& folder); // StatusMenuPicture.cpp
    const std::pair<const char*, Page> pages[] = {
        { "following", following }, { "flying", flyingAndPinned }, { "bubbles", bubbles },
        { "label", label },         { "rings", rings },            { "goal", goalPhoto },
        { "asleep", asleep },       { "moods", moods },            { "portraits", portraits },
        { "onboarding", onboarding },
        { "focus-window-start", focusWindowStart }, { "focus-window-live", focusWindowLive },
        { "focus-window-pages", focusWindowPages },
        { "focus-window-history", focusWindowHistory }, { "focus-window-vision", focusWindowVision },
        { "focus-window-focused", focusWindowFocused },
        { "status-menu", statusMenuPictures },
        { "sounds", soundsPage },
        { "account-pages", accountPages }, { "pairing", pairingWindow },
    };
    bool ok = true;
    for (const auto& [name, page] : pages)
        if (filter.isEmpty() || QString::fromLatin1(name).contains(filter))
            ok = page(folder) && ok;
    return ok ? 0 : 1;
}
