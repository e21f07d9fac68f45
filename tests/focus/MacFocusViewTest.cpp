#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <stdexcept>

#include "support/RunTask.h"
#include "Tovrick/focus/FocusIcon.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "focus/FocusWindowWorld.h"
#include "shared/account/DeviceVaults.h"
#include "shared/account/TovrickAccount.h"
#include "support/QuickItems.h"

namespace {

FocusSession sessionWith(double duration, double elapsed)
{
    FocusSession session(QStringLiteral("Report"), duration, false);
    session.elapsed = elapsed;
    return session;
}

struct WindowWorld : FocusWindowWorld {
    MacFocusView view { *engine, account, access };

    WindowWorld() { account.adoptSession(focusWindowSession(QStringLiteral("user-1"))); }
};

} // namespace

TEST(MacFocusPanel, SizesFollowTheVisibleHeight)
{
    const struct {
        std::optional<int> visible;
        int height, minimumHeight;
    } cases[] = { { 700, 650, 650 }, { 1000, 880, 760 }, { std::nullopt, 800, 760 }, { 810, 760, 760 } };
    for (const auto& c : cases) {
        const MacFocusPanel::Sizes sizes = MacFocusPanel::sizesFor(c.visible);
        EXPECT_EQ(sizes.initial, QSize(640, c.height)) << c.visible.value_or(-1);
        EXPECT_EQ(sizes.minimum, QSize(560, c.minimumHeight)) << c.visible.value_or(-1);
    }
}

TEST(MacFocusView, HeaderLengthIsClampedAndFixedWhileLive)
{
    const struct {
        double area;
        bool live;
        int length;
    } cases[] = { { 300, false, 100 }, { 540, false, 100 }, { 600, false, 160 }, { 719.6, false, 279 },
                  { 720, false, 280 }, { 1400, false, 280 }, { 300, true, 88 }, { 1400, true, 88 } };
    for (const auto& c : cases)
        EXPECT_EQ(MacFocusView::headerLength(c.area, c.live), c.length) << c.area << ' ' << c.live;
}

TEST(MacFocusView, FocusedMinutesPreferRealTimeAndTruncate)
{
    FocusSession a = sessionWith(1500, 360);
    a.realElapsed = 90;
    FocusSession b = sessionWith(1500, 600);
    b.realElapsed = 150;
    FocusSession c = sessionWith(1500, 100);
    c.realElapsed.reset();
    EXPECT_EQ(MacFocusView::focusedMinutes({ a, b, c }), 5);
    EXPECT_EQ(MacFocusView::focusedMinutes({}), 0);
    EXPECT_EQ(MacFocusView::focusedMinutes({ sessionWith(600, 59.9) }), 0);
}

TEST(MacFocusView, ClockRoundsUpAndPercentTruncates)
{
    const struct {
        double duration, elapsed;
        const char* clock;
        const char* percent;
    } cases[] = { { 1500, 0, "25:00", "0 percent" },     { 1500, 0.4, "25:00", "0 percent" },
                  { 1500, 1000, "08:20", "66 percent" },  { 1500, 1499.5, "00:01", "99 percent" },
                  { 1500, 1500, "00:00", "100 percent" }, { 1500, 1600, "00:00", "100 percent" } };
    for (const auto& c : cases) {
        const FocusSession session = sessionWith(c.duration, c.elapsed);
        EXPECT_EQ(MacFocusView::clockText(session), QString::fromLatin1(c.clock)) << c.elapsed;
        EXPECT_EQ(MacFocusView::progressText(MacFocusView::progress(session)), QString::fromLatin1(c.percent))
            << c.elapsed;
    }
}

TEST(MacFocusView, ChoosingAPageEndsEditingAndClearsTheMessage)
{
    WindowWorld w;
    w.view.setEditingTask(true);
    w.view.setMessage(QStringLiteral("Focus ended."));
    w.view.selectPage(static_cast<int>(FocusPage::vision));
    EXPECT_EQ(w.view.page(), FocusPage::vision);
    EXPECT_EQ(w.view.pageTitle(), QStringLiteral("Vision Images"));
    EXPECT_FALSE(w.view.editingTask());
    EXPECT_TRUE(w.view.message().isEmpty());
    w.view.selectPage(7);
    EXPECT_EQ(w.view.page(), FocusPage::vision);
}

TEST(MacFocusView, PagesCarryTheirIconsAndIdentifiers)
{
    MacFocusPanel::registerQmlTypes();
    WindowWorld w;
    const QVariantList pages = w.view.pages();
    ASSERT_EQ(pages.size(), 5);
    const char* identifiers[] = { "macFocusFocus", "macFocusHistory", "macFocusVision Images", "macFocusSounds",
                                  "macFocusAccount" };
    for (int i = 0; i < 5; ++i) {
        const QVariantMap page = pages[i].toMap();
        EXPECT_EQ(page[QStringLiteral("identifier")].toString(), QString::fromLatin1(identifiers[i]));
        EXPECT_FALSE(FocusIcon::render(page[QStringLiteral("icon")].toString(), QSize(23, 23), Qt::white).isNull())
            << i;
    }
}

TEST(MacFocusView, ANewUserBringsBackTheFocusPage)
{
    WindowWorld w;
    int reloads = 0;
    w.view.reloadImages = [&] { ++reloads; };
    w.view.selectPage(static_cast<int>(FocusPage::account));
    w.view.setMessage(QStringLiteral("Signed in."));

    w.account.adoptSession(focusWindowSession(QStringLiteral("user-1"))); // a refresh of the same user
    EXPECT_EQ(w.view.page(), FocusPage::account);
    EXPECT_EQ(reloads, 0);

    w.account.clearSession();
    EXPECT_EQ(w.view.page(), FocusPage::focus);
    EXPECT_TRUE(w.view.message().isEmpty());
    EXPECT_EQ(reloads, 1);
    EXPECT_FALSE(w.view.signedIn());

    w.view.selectPage(static_cast<int>(FocusPage::history));
    w.account.adoptSession(focusWindowSession(QStringLiteral("user-2")));
    EXPECT_EQ(w.view.page(), FocusPage::focus);
    EXPECT_EQ(reloads, 2);
}

TEST(MacFocusView, StartNeedsATaskAnAccountAndNoCheckRunning)
{
    WindowWorld w;
    EXPECT_FALSE(w.view.canStart());
    w.view.setTask(QStringLiteral(" \n\t \n"));
    EXPECT_FALSE(w.view.canStart());
    w.view.setTask(QStringLiteral("  Write the report\n"));
    EXPECT_TRUE(w.view.canStart());
    w.account.clearSession();
    EXPECT_FALSE(w.view.canStart());
    w.account.adoptSession(focusWindowSession(QStringLiteral("user-1")));

    bool couldStartWhileChecking = true;
    QString labelWhileChecking;
    w.duringCapture = [&] {
        couldStartWhileChecking = w.view.canStart();
        labelWhileChecking = w.view.startLabel();
    };
    runTask(w.view.start());
    EXPECT_FALSE(couldStartWhileChecking);
    EXPECT_EQ(labelWhileChecking, QStringLiteral("Checking screen access\u2026"));
    EXPECT_EQ(w.view.startLabel(), QStringLiteral("Start focus"));
}

TEST(MacFocusView, StartAwaitsScreenAccessAndPassesTaskAndMinutes)
{
    WindowWorld w;
    w.view.setTask(QStringLiteral("  Write the report\n"));
    w.view.setMinutes(45);
    w.view.setEditingTask(true);

    w.captureWorks = false;
    runTask(w.view.start());
    EXPECT_FALSE(w.engine->current().has_value());
    EXPECT_EQ(w.view.message(), w.access.message());
    EXPECT_TRUE(w.view.message().startsWith(QStringLiteral("Tovrick couldn")));
    EXPECT_TRUE(w.view.needsSettings());
    EXPECT_FALSE(w.view.editingTask());

    w.captureWorks = true;
    runTask(w.view.start());
    ASSERT_TRUE(w.view.hasActiveSession());
    EXPECT_EQ(w.engine->current()->task, QStringLiteral("Write the report"));
    EXPECT_DOUBLE_EQ(w.engine->current()->duration, 45 * 60.0);
    EXPECT_EQ(w.view.message(), QStringLiteral("Focus started: Write the report, 45 minutes."));
    EXPECT_EQ(w.view.task(), QStringLiteral("  Write the report\n"));
    EXPECT_FALSE(w.view.needsSettings());
    EXPECT_EQ(w.view.title(), QStringLiteral("Stay in your flow."));
    EXPECT_EQ(w.view.clockText(), QStringLiteral("45:00"));
}

TEST(MacFocusView, ResumeAwaitsScreenAccessPauseAndEndActAtOnce)
{
    WindowWorld w;
    w.view.setTask(QStringLiteral("Report"));
    runTask(w.view.start());
    w.world.run(*w.engine, 10);
    EXPECT_EQ(w.view.clockLabel(), QStringLiteral("remaining"));

    const int checksBefore = w.world.captures.calls;
    w.view.pauseOrResume();
    EXPECT_FALSE(w.view.sessionRunning());
    EXPECT_EQ(w.view.clockLabel(), QStringLiteral("paused"));
    const QString pausedClock = w.view.clockText();
    w.world.run(*w.engine, 5);
    EXPECT_EQ(w.view.clockText(), pausedClock);

    w.captureWorks = false;
    runTask(w.view.resume());
    EXPECT_FALSE(w.view.sessionRunning());
    EXPECT_EQ(w.view.message(), w.access.message());

    w.captureWorks = true;
    runTask(w.view.resume());
    EXPECT_TRUE(w.view.sessionRunning());
    EXPECT_EQ(w.view.message(), QStringLiteral("Focus resumed."));
    EXPECT_GE(w.world.captures.calls, checksBefore);

    w.view.endSession();
    EXPECT_FALSE(w.view.hasActiveSession());
    EXPECT_EQ(w.view.title(), QStringLiteral("One thing at a time."));
    EXPECT_EQ(w.view.task(), QStringLiteral("Report"));
}

TEST(MacFocusView, RecheckReportsReadinessOrTheFailure)
{
    WindowWorld w;
    w.captureWorks = false;
    runTask(w.view.recheckAccess());
    EXPECT_EQ(w.view.message(), w.access.message());
    w.captureWorks = true;
    runTask(w.view.recheckAccess());
    EXPECT_EQ(w.view.message(), QStringLiteral("Screen access is ready. Start or resume your session."));
}

TEST(MacFocusView, MinutesStayWithinTheStepperRange)
{
    WindowWorld w;
    EXPECT_EQ(w.view.minutes(), 30);
    const std::pair<int, int> cases[] = { { 0, 1 }, { 1, 1 }, { 45, 45 }, { 240, 240 }, { 241, 240 } };
    for (const auto& [asked, kept] : cases) {
        w.view.setMinutes(asked);
        EXPECT_EQ(w.view.minutes(), kept) << asked;
    }
}

namespace {

struct ShownWindow : WindowWorld {
    MacFocusPanel panel { &account, &access };
    QQuickItem* root = nullptr;

    ShownWindow()
    {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.show(*engine, [] {});
        root = panel.window()->rootObject();
    }
    QQuickItem* item(const char* name)
    {
        QQuickItem* found = findItem(root, QString::fromUtf8(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    QString text(const char* name) { return item(name)->property("text").toString(); }
    MacFocusView& shownView() { return *panel.view(); }
};

} // namespace

TEST(MacFocusWindow, SignedOutShowsOnlyTheSignInPage)
{
    ShownWindow w;
    ASSERT_NE(w.root, nullptr);
    EXPECT_TRUE(w.panel.window()->errors().isEmpty());
    EXPECT_EQ(w.panel.window()->title(), QStringLiteral("Tovrick"));
    w.account.clearSession();
    EXPECT_TRUE(isShown(w.item("macFocusSignIn")));
    EXPECT_FALSE(isShown(w.item("macFocusTabBar")));
    EXPECT_FALSE(isShown(w.item("macFocusTitle")));
}

TEST(MacFocusWindow, IdleRunningPausedAndBannerStatesShowTheirTexts)
{
    ShownWindow w;
    MacFocusView& view = w.shownView();
    EXPECT_TRUE(isShown(w.item("macFocusTabBar")));
    EXPECT_TRUE(isShown(w.item("macFocusVision Images")));
    EXPECT_EQ(w.text("macFocusTitle"), QStringLiteral("One thing at a time."));
    EXPECT_FALSE(w.item("macStartFocus")->isEnabled());
    EXPECT_FALSE(isShown(w.item("macFocusFeedback")));
    EXPECT_TRUE(w.item("macFocusDuration30")->property("selected").toBool());

    w.item("macFocusTask")->setProperty("text", QStringLiteral("Write the report"));
    EXPECT_EQ(view.task(), QStringLiteral("Write the report"));
    EXPECT_TRUE(w.item("macStartFocus")->isEnabled());
    QMetaObject::invokeMethod(w.item("macFocusDuration25"), "clicked");
    EXPECT_EQ(view.minutes(), 25);

    runTask(view.start());
    EXPECT_TRUE(isShown(w.item("macFocusLiveSection")));
    EXPECT_FALSE(isShown(w.item("macFocusStartSection")));
    EXPECT_EQ(w.text("macFocusClock"), QStringLiteral("25:00"));
    EXPECT_EQ(w.text("macFocusClockLabel"), QStringLiteral("remaining"));
    EXPECT_EQ(w.text("macFocusPauseResume"), QStringLiteral("Pause session"));
    EXPECT_TRUE(isShown(w.item("macFocusFeedback")));
    EXPECT_TRUE(w.text("macFocusFeedbackText").startsWith(QStringLiteral("Focus started")));
    EXPECT_EQ(w.item("macFocusLogo")->width(), 88);

    view.pauseOrResume();
    EXPECT_EQ(w.text("macFocusClockLabel"), QStringLiteral("paused"));
    EXPECT_EQ(w.text("macFocusPauseResume"), QStringLiteral("Resume session"));
    EXPECT_FALSE(isShown(w.item("macFocusDeveloperBadge")));

    w.captureWorks = false;
    runTask(view.resume());
    EXPECT_TRUE(isShown(w.item("macFocusScreenAccess")));
    EXPECT_EQ(w.text("macFocusFeedbackText"), w.access.message());
}

TEST(MacFocusWindow, ShowingAgainRaisesTheSameWindowWhereItIs)
{
    ShownWindow w;
    QQuickView* first = w.panel.window();
    w.shownView().selectPage(static_cast<int>(FocusPage::history));
    w.shownView().setTask(QStringLiteral("Half typed"));
    first->hide();
    first->setPosition(37, 41);
    w.panel.show(*w.engine, [] {});
    EXPECT_EQ(w.panel.window(), first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_EQ(first->position(), QPoint(37, 41));
    EXPECT_EQ(w.shownView().page(), FocusPage::history);
    EXPECT_EQ(w.shownView().task(), QStringLiteral("Half typed"));
    EXPECT_TRUE(isShown(w.item("macFocusPageHeader")));
    EXPECT_EQ(w.text("macFocusPageHeader"), QStringLiteral("History"));
}
