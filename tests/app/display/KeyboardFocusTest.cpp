// The focus window used by keyboard alone, keys posted through XTest on the display, and as a screen
// reader reads it over the accessibility bus: where Tab goes, what a dialog does with the focus,
// what the tree says is off, open or scrolled.
#include <QAccessible>
#include <QDir>
#include <QImage>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QTest>
#include <gtest/gtest.h>

#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/focus/FocusHistoryPage.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"
#include "app/display/BusEvents.h"
#include "app/display/BusPress.h"
#include "app/display/WindowKeys.h"
#include "focus/FocusWindowWorld.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cmath>

namespace {

const QString kUser = QStringLiteral("user-1");
const QString kScrollBar = QStringLiteral("scroll bar");

// The focus window on the display, signed in, active, and small enough that the Account page
// scrolls.
struct KeyWindow : FocusWindowWorld {
    LoopbackApi api;
    MacFocusPanel panel { &account, &access };
    XTestInput keys;

    explicit KeyWindow(int historySessions = 0)
    {
        signInForTests(account, api);
        account.clearSession();
        account.adoptSession(focusWindowSession(kUser));
        if (historySessions > 0)
            giveHistory(historySessions);
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.show(*engine, [] {});
        panel.window()->resize(640, 560);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.window()));
        panel.window()->requestActivate();
        EXPECT_TRUE(waitUntil([&] { return panel.window()->isActive(); }));
    }

    void giveHistory(int count)
    {
        std::vector<FocusSession> sessions;
        for (int i = 0; i < count; ++i) {
            FocusSession session(QStringLiteral("Task %1").arg(i), 1800, false, QUuid::createUuid(), 786000000.0 - i * 3600);
            session.elapsed = 1500;
            session.end();
            sessions.push_back(session);
        }
        FocusHistoryStore(QDir(world.historyFolder()).filePath(FocusHistoryStore::fileName(kUser))).save(sessions, std::nullopt);
        engine->accountChanged(kUser);
    }

    MacFocusView& view() { return *panel.view(); }
    QQuickItem* item(const char* name) { return findItem(panel.window()->rootObject(), QString::fromUtf8(name)); }
    QQuickItem* focused() { return panel.window()->activeFocusItem(); }
    // The name the focused control has on the bus; empty when nothing named has the focus.
    QString focusedName() { return busNameOf(focused()); }

    bool press(unsigned long keysym, unsigned held = 0, std::function<bool()> done = {})
    {
        return pressInWindow(keys, *panel.window(), keysym, held, std::move(done));
    }
    // Tab (or Shift+Tab) until the focus is back where it started, gathering the names on the way.
    QStringList tabRound(bool backwards)
    {
        QStringList names;
        for (int i = 0; i < 40; ++i) {
            if (!press(XK_Tab, backwards ? KeyCombination::heldShift : 0u))
                break;
            const QString name = focusedName();
            if (!names.isEmpty() && name == names.first())
                break;
            names << name;
        }
        return names;
    }
    // Tab until the control of that name has the focus.
    bool tabTo(const QString& name)
    {
        for (int i = 0; i < 40 && focusedName() != name; ++i)
            if (!press(XK_Tab))
                return false;
        return focusedName() == name;
    }
    // Whether the item lies wholly inside the page area the user sees.
    bool inView(QQuickItem* control)
    {
        QQuickItem* area = item("macFocusPageArea");
        const QRectF box = control->mapRectToItem(area, QRectF(0, 0, control->width(), control->height()));
        return box.top() >= 0 && box.bottom() <= area->height();
    }
};

const QStringList kTabs = {QStringLiteral("Focus"), QStringLiteral("History"), QStringLiteral("Vision Images"),
                           QStringLiteral("Sounds"), QStringLiteral("Account")};

// Backwards, from the first control, the round starts at the last and ends at the first.
QStringList reversedRound(QStringList names)
{
    std::reverse(names.begin(), names.end());
    return names;
}

} // namespace

TEST(KeyboardFocus, TabReachesEveryControlOfEachPageInReadingOrder)
{
    struct Case {
        const char* page;
        FocusPage shown;
        std::function<void(KeyWindow&)> prepare;
        QStringList controls;
    };
    const Case cases[] = {
        {"Focus", FocusPage::focus, [](KeyWindow& w) { w.view().setTask(QStringLiteral("Write")); },
         {QStringLiteral("Focus task"), QStringLiteral("15 min"), QStringLiteral("25 min"), QStringLiteral("30 min"),
          QStringLiteral("60 min"), QStringLiteral("Custom duration"), QStringLiteral("Start focus")}},
        {"Focus, custom duration open", FocusPage::focus, [](KeyWindow& w) {
             w.view().setTask(QStringLiteral("Write"));
             w.item("macFocusCustom")->setProperty("expanded", true);
         },
         {QStringLiteral("Focus task"), QStringLiteral("15 min"), QStringLiteral("25 min"), QStringLiteral("30 min"),
          QStringLiteral("60 min"), QStringLiteral("Custom duration"), QStringLiteral("Decrease custom duration"),
          QStringLiteral("Increase custom duration"), QStringLiteral("Start focus")}},
        {"History", FocusPage::history, [](KeyWindow&) {},
         {QStringLiteral("history 0"), QStringLiteral("history 1")}},
        {"Vision Images", FocusPage::vision, [](KeyWindow&) {}, {QStringLiteral("Add images")}},
        {"Account", FocusPage::account, [](KeyWindow&) {},
         {QStringLiteral("Sign out"), QStringLiteral("Pair iPhone"), QStringLiteral("Developer options"),
          QStringLiteral("How screen checks work"), QStringLiteral("Account deletion")}},
        {"Account, cards open", FocusPage::account, [](KeyWindow& w) {
             for (const char* card : {"macAccountDeveloper", "macAccountScreenChecks", "macAccountDeletion"})
                 w.item(card)->setProperty("expanded", true);
         },
         {QStringLiteral("Sign out"), QStringLiteral("Pair iPhone"), QStringLiteral("Developer options"),
          QStringLiteral("Developer Mode"), QStringLiteral("How screen checks work"),
          QStringLiteral("Account deletion"), QStringLiteral("Delete Tovrick account\u2026")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.page);
        KeyWindow w(2);
        w.view().selectPage(static_cast<int>(c.shown));
        c.prepare(w);
        QStringList expected = c.controls;
        if (c.shown == FocusPage::history) {
            expected.clear();
            for (const QVariant& session : w.panel.history()->sessions())
                expected << session.toMap().value(QStringLiteral("label")).toString();
        }
        expected << kTabs;
        EXPECT_EQ(w.tabRound(false).join(u'|').toStdString(), expected.join(u'|').toStdString());
        EXPECT_EQ(w.tabRound(true).join(u'|').toStdString(), reversedRound(expected).join(u'|').toStdString());
    }
}

TEST(KeyboardFocus, ControlsAKeyReachesOffScreenAreScrolledIntoView)
{
    KeyWindow w;
    w.view().selectPage(static_cast<int>(FocusPage::account));
    for (const char* card : {"macAccountDeveloper", "macAccountScreenChecks", "macAccountDeletion"})
        w.item(card)->setProperty("expanded", true);
    ASSERT_TRUE(w.tabTo(QStringLiteral("Delete Tovrick account\u2026")));
    EXPECT_TRUE(waitUntil([&] { return w.inView(w.focused()); }));
    ASSERT_TRUE(w.tabTo(QStringLiteral("Sign out")));
    EXPECT_TRUE(waitUntil([&] { return w.inView(w.focused()); }));
}

TEST(KeyboardFocus, KeysActOnTheFocusedControlAndTheFocusStaysOnIt)
{
    KeyWindow w;
    // Tab in the task field leaves it; the task keeps no tab.
    w.view().setTask(QStringLiteral("Write"));
    ASSERT_TRUE(w.tabTo(QStringLiteral("Focus task")));
    ASSERT_TRUE(w.press(XK_Tab));
    EXPECT_EQ(w.focusedName(), QStringLiteral("15 min"));
    EXPECT_EQ(w.view().task(), QStringLiteral("Write"));

    struct Case {
        const char* control;
        unsigned long key;
        std::function<bool()> done;
    };
    const Case cases[] = {
        {"15 min", XK_Return, [&] { return w.view().minutes() == 15; }},
        {"60 min", XK_space, [&] { return w.view().minutes() == 60; }},
        {"Custom duration", XK_Return, [&] { return w.item("macFocusCustom")->property("expanded").toBool(); }},
        {"Increase custom duration", XK_Return, [&] { return w.view().minutes() == 61; }},
        {"Custom duration", XK_space, [&] { return !w.item("macFocusCustom")->property("expanded").toBool(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        ASSERT_TRUE(w.tabTo(QString::fromUtf8(c.control)));
        EXPECT_TRUE(w.press(c.key, 0, c.done));
        EXPECT_EQ(w.focusedName(), QString::fromUtf8(c.control));
    }
    // The control the keys reached shows its mark.
    EXPECT_TRUE(w.focused()->property("visualFocus").toBool());
}

TEST(KeyboardFocus, TheDeletionQuestionHoldsTheKeyboardUntilItIsAnswered)
{
    KeyWindow w;
    w.view().selectPage(static_cast<int>(FocusPage::account));
    w.item("macAccountDeletion")->setProperty("expanded", true);
    const QString opener = QStringLiteral("Delete Tovrick account\u2026");
    const QString title = QStringLiteral("Delete your Tovrick account and unlink all its devices?");
    struct Case {
        const char* way;
        unsigned long key;
    };
    for (const Case& c : {Case {"Escape", XK_Escape}, Case {"Return on Cancel", XK_Return}}) {
        SCOPED_TRACE(c.way);
        ASSERT_TRUE(w.tabTo(opener));
        ASSERT_TRUE(w.press(XK_space, 0, [&] { return w.focusedName() == QStringLiteral("Cancel"); }));
        EXPECT_TRUE(w.view().confirmDelete());
        // Tab and Shift+Tab go round the dialog's two buttons only.
        ASSERT_TRUE(w.press(XK_Tab));
        EXPECT_EQ(w.focusedName(), QStringLiteral("Delete account"));
        ASSERT_TRUE(w.press(XK_Tab));
        EXPECT_EQ(w.focusedName(), QStringLiteral("Cancel"));
        ASSERT_TRUE(w.press(XK_Tab, KeyCombination::heldShift));
        EXPECT_EQ(w.focusedName(), QStringLiteral("Delete account"));
        ASSERT_TRUE(w.press(XK_Tab, KeyCombination::heldShift));
        EXPECT_EQ(w.focusedName(), QStringLiteral("Cancel"));

        const BusNode dialog = shownNodeOverBus(title);
        EXPECT_EQ(dialog.role, QStringLiteral("dialog"));
        EXPECT_TRUE(dialog.description.startsWith(QStringLiteral("This permanently deletes your account")));

        ASSERT_TRUE(w.press(c.key, 0, [&] { return !w.view().confirmDelete() && w.focusedName() == opener; }));
        EXPECT_TRUE(w.account.isSignedIn());
        EXPECT_EQ(w.api.requestCount(QStringLiteral("devices/current")), 0);
    }
}

TEST(KeyboardFocus, WhatIsOffSaysSoOnTheBus)
{
    KeyWindow w;
    EXPECT_FALSE(shownNodeOverBus(QStringLiteral("Start focus")).enabled);
    w.view().setTask(QStringLiteral("Write"));
    EXPECT_TRUE(waitUntil([] { return shownNodeOverBus(QStringLiteral("Start focus")).enabled; }));

    w.view().selectPage(static_cast<int>(FocusPage::account));
    w.item("macAccountDeveloper")->setProperty("expanded", true);
    const char* behind[] = {"Sign out", "Pair iPhone", "Developer options", "Developer Mode", "Focus", "History"};
    for (const char* name : behind)
        EXPECT_TRUE(shownNodeOverBus(QString::fromUtf8(name)).enabled) << name;
    w.view().setConfirmDelete(true);
    for (const char* name : behind)
        EXPECT_FALSE(shownNodeOverBus(QString::fromUtf8(name)).enabled) << name;
    for (const BusNode& node : shownOverBus()) {
        if (node.role == kScrollBar) {
            EXPECT_FALSE(node.enabled) << node.name.toStdString();
        }
    }
    EXPECT_TRUE(shownNodeOverBus(QStringLiteral("Cancel")).enabled);
}

TEST(KeyboardFocus, OpeningOrClosingACardIsAnnounced)
{
    KeyWindow w(1);
    const QString history = w.panel.history()->sessions().value(0).toMap().value(QStringLiteral("label")).toString();
    struct Case {
        FocusPage page;
        QString card;
    };
    const Case cases[] = {
        {FocusPage::focus, QStringLiteral("Custom duration")},
        {FocusPage::history, history},
        {FocusPage::account, QStringLiteral("Developer options")},
        {FocusPage::account, QStringLiteral("How screen checks work")},
        {FocusPage::account, QStringLiteral("Account deletion")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.card.toStdString());
        w.view().selectPage(static_cast<int>(c.page));
        for (const bool open : {true, false}) {
            BusEventLog log({QStringLiteral("object:state-changed:expanded")});
            ASSERT_TRUE(pressOverBus(c.card));
            EXPECT_TRUE(log.waitFor([&](const std::vector<BusEvent>& events) {
                return std::any_of(events.begin(), events.end(), [&](const BusEvent& event) {
                    return event.source == c.card && event.detail == int(open);
                });
            }));
        }
    }
}

TEST(KeyboardFocus, TheScrollBarTellsAndSetsHowFarThePageIsScrolled)
{
    KeyWindow w;
    w.view().selectPage(static_cast<int>(FocusPage::account));
    for (const char* card : {"macAccountDeveloper", "macAccountScreenChecks", "macAccountDeletion"})
        w.item(card)->setProperty("expanded", true);
    // What scrolls the page: the flickable the cards lie in.
    QQuickItem* flickable = w.item("macAccountDeveloper");
    while (flickable && !flickable->inherits("QQuickFlickable"))
        flickable = flickable->parentItem();
    ASSERT_NE(flickable, nullptr);
    auto scrolled = [&] { return flickable->property("contentY").toDouble(); };
    std::optional<BusValue> bar;
    ASSERT_TRUE(waitUntil([&] {
        bar = valueOverBus(QStringLiteral("Account"), kScrollBar);
        return bar && bar->maximum > 100;
    }));
    EXPECT_EQ(bar->current, 0);
    EXPECT_EQ(bar->minimum, 0);

    ASSERT_TRUE(setValueOverBus(QStringLiteral("Account"), kScrollBar, 100));
    EXPECT_TRUE(waitUntil([&] { return std::abs(scrolled() - 100) < 1; }));
    EXPECT_EQ(valueOverBus(QStringLiteral("Account"), kScrollBar)->current, 100);

    // Under the dialog neither setting nor stepping scrolls.
    w.view().setConfirmDelete(true);
    setValueOverBus(QStringLiteral("Account"), kScrollBar, 0);
    actOverBus(QStringLiteral("Account"), QStringLiteral("Decrease"));
    EXPECT_EQ(valueOverBus(QStringLiteral("Account"), kScrollBar)->current, 100);
    EXPECT_NEAR(scrolled(), 100, 1);
}

TEST(KeyboardFocus, TheHistoryCardAndTheCountdownShowTheirTextsInTheTree)
{
    KeyWindow w(1);
    w.view().selectPage(static_cast<int>(FocusPage::history));
    const QVariantMap card = w.panel.history()->sessions().value(0).toMap();
    EXPECT_EQ(shownNodeOverBus(card.value(QStringLiteral("label")).toString()).description,
              card.value(QStringLiteral("start")).toString());

    FocusCountdown countdown;
    FocusSession session(QStringLiteral("Write"), 1500, true, QUuid::createUuid(), 786000000.0);
    countdown.update(session);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(countdown.window()));
    EXPECT_EQ(shownNodeOverBus(QStringLiteral("Focus countdown")).role, QStringLiteral("frame"));
    EXPECT_EQ(shownNodeOverBus(QStringLiteral("25:00")).role, QStringLiteral("label"));
    EXPECT_EQ(shownNodeOverBus(QStringLiteral("DEVELOPER MODE \u00b7 4\u00d7")).role, QStringLiteral("label"));
}

namespace {

// Whether the bus told that the node called `name` took the focus.
bool busToldFocus(BusEventLog& log, const QString& name)
{
    return log.waitFor([&](const std::vector<BusEvent>& events) {
        return std::any_of(events.begin(), events.end(), [&](const BusEvent& event) {
            return event.type == QLatin1String("object:state-changed:focused") && event.source == name && event.detail == 1;
        });
    });
}

// `count` reminder images in the signed-in user's folder, shown.
void storeImages(KeyWindow& w, int count)
{
    QDir().mkpath(w.vision.folder());
    QImage image(40, 30, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    for (int i = 0; i < count; ++i)
        image.save(QDir(w.vision.folder()).filePath(QStringLiteral("stored-%1.jpg").arg(i)), "JPG");
    w.vision.reload();
}

} // namespace

TEST(KeyboardFocus, WhenTheControlUsedGoesTheFocusMovesToWhatTakesItsPlace)
{
    struct Case {
        const char* way;
        const char* control;
        unsigned long key;
        const char* lands;
    };
    const Case cases[] = {
        {"Start focus by Space", "Start focus", XK_space, "Pause session"},
        {"End session by Space", "End session", XK_space, "Focus task"},
        {"Start focus by Return", "Start focus", XK_Return, "Pause session"},
        {"End session by Return", "End session", XK_Return, "Focus task"},
    };
    KeyWindow w;
    w.view().setTask(QStringLiteral("Write"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        const QString lands = QString::fromUtf8(c.lands);
        ASSERT_TRUE(w.tabTo(QString::fromUtf8(c.control)));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        EXPECT_TRUE(w.press(c.key, 0, [&] { return w.focusedName() == lands; })) << w.focusedName().toStdString();
        EXPECT_TRUE(busToldFocus(log, lands));
        // Its ring is drawn (a text field draws its own edge).
        if (QQuickItem* now = w.focused(); now && lands != QStringLiteral("Focus task")) {
            EXPECT_TRUE(now->property("visualFocus").toBool());
        }
        // Tab goes on from there.
        ASSERT_TRUE(w.press(XK_Tab));
        EXPECT_FALSE(w.focusedName().isEmpty());
        EXPECT_TRUE(w.focused()->isVisible());
    }
}

TEST(KeyboardFocus, ARemovedImagesFocusGoesToTheNextRemoveButtonElseThePreviousElseAdd)
{
    KeyWindow w;
    storeImages(w, 3);
    w.view().selectPage(static_cast<int>(FocusPage::vision));
    // Each button says which image it removes.
    for (const char* name : {"Remove image 1", "Remove image 2", "Remove image 3"})
        EXPECT_EQ(shownNodeOverBus(QString::fromUtf8(name)).role, QStringLiteral("push button")) << name;
    for (const BusNode& node : shownOverBus()) {
        EXPECT_NE(node.name, QStringLiteral("Remove")) << node.role.toStdString();
    }

    struct Step {
        const char* pressed;
        int left;
        const char* lands;
    };
    const Step steps[] = {
        {"Remove image 2", 2, "Remove image 2"}, // the third took its place
        {"Remove image 2", 1, "Remove image 1"}, // none after: the one before
        {"Remove image 1", 0, "Add images"}, // none left: the page's first control
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.pressed);
        ASSERT_TRUE(w.tabTo(QString::fromUtf8(step.pressed)));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        const QString lands = QString::fromUtf8(step.lands);
        EXPECT_TRUE(w.press(XK_space, 0, [&] {
            return w.vision.entryUrls().size() == step.left && w.focused() && w.focused()->isVisible()
                && w.focusedName() == lands;
        })) << w.focusedName().toStdString();
        EXPECT_TRUE(w.focused()->property("visualFocus").toBool());
        EXPECT_TRUE(busToldFocus(log, lands));
    }
}

TEST(KeyboardFocus, AControlTurningOnOrOffTellsTheBus)
{
    KeyWindow w;
    struct Case {
        const char* what;
        FocusPage page;
        QString control;
        std::function<void(bool on)> turn;
        std::vector<bool> states; // what it turns to, in turn, from the other
    };
    const auto underQuestion = [&](bool on) { w.view().setConfirmDelete(!on); };
    const Case cases[] = {
        {"a task typed and erased", FocusPage::focus, QStringLiteral("Start focus"),
         [&](bool on) { w.view().setTask(on ? QStringLiteral("Write") : QString()); }, {true, false}},
        {"a button under the deletion question", FocusPage::account, QStringLiteral("Sign out"), underQuestion, {false, true}},
        {"a card under the deletion question", FocusPage::account, QStringLiteral("Developer options"), underQuestion,
         {false, true}},
    };
    for (const Case& c : cases) {
        w.view().selectPage(static_cast<int>(c.page));
        ASSERT_EQ(shownNodeOverBus(c.control).enabled, !c.states.front()) << c.what;
        for (const bool on : c.states) {
            SCOPED_TRACE(std::string(c.what) + (on ? ": on" : ": off"));
            BusEventLog log({QStringLiteral("object:state-changed:enabled"), QStringLiteral("object:state-changed:sensitive")});
            c.turn(on);
            for (const char* state : {"object:state-changed:enabled", "object:state-changed:sensitive"}) {
                EXPECT_TRUE(log.waitFor([&](const std::vector<BusEvent>& events) {
                    return std::any_of(events.begin(), events.end(), [&](const BusEvent& event) {
                        return event.type == QLatin1String(state) && event.source == c.control && event.detail == int(on);
                    });
                })) << state;
            }
            EXPECT_EQ(shownNodeOverBus(c.control).enabled, on);
        }
    }
    w.view().setConfirmDelete(false);
}

// Run once as it is and once more at a scale factor of 2 (see the CMake list).
TEST(KeyboardFocus, PlacesOnTheBusAreThePlacesOnScreen)
{
    KeyWindow w;
    QQuickView* window = w.panel.window();
    const qreal scale = window->devicePixelRatio();
    // Where the X server has the window, in its own pixels.
    Display* x = XOpenDisplay(nullptr);
    ASSERT_NE(x, nullptr);
    int left = 0;
    int top = 0;
    Window child = 0;
    XTranslateCoordinates(x, Window(window->winId()), DefaultRootWindow(x), 0, 0, &left, &top, &child);
    XWindowAttributes attributes {};
    XGetWindowAttributes(x, Window(window->winId()), &attributes);
    XCloseDisplay(x);
    const QRect frame(left, top, attributes.width, attributes.height);
    EXPECT_EQ(frame.width(), qRound(window->width() * scale));

    const std::optional<QRect> busFrame = extentsOverBus(window->title(), QStringLiteral("frame"));
    ASSERT_TRUE(busFrame);
    EXPECT_EQ(*busFrame, frame);

    // A control, and what lies under its middle.
    QQuickItem* start = w.item("macStartFocus");
    ASSERT_TRUE(start);
    const QPointF corner = start->mapToScene(QPointF(0, 0)) * scale;
    const QRect drawn(frame.topLeft() + corner.toPoint(), QSize(qRound(start->width() * scale), qRound(start->height() * scale)));
    const std::optional<QRect> busStart = extentsOverBus(QStringLiteral("Start focus"), QStringLiteral("push button"));
    ASSERT_TRUE(busStart);
    EXPECT_LE((busStart->topLeft() - drawn.topLeft()).manhattanLength(), 2) << busStart->x() << "," << busStart->y();
    EXPECT_LE(std::abs(busStart->width() - drawn.width()) + std::abs(busStart->height() - drawn.height()), 2);
    EXPECT_EQ(nameAtPointOverBus(window->title(), QStringLiteral("frame"), drawn.center()), QStringLiteral("Start focus"));
}

namespace {

// Where the focus is once the control it was on went: on the control called `name`, shown with its
// ring; the bus told so, names no other control as holding it, and nothing hidden or placeless says
// it does; and Tab goes on from there to the control called `next`.
void expectFocusMovedTo(KeyWindow& w, BusEventLog& log, const QString& name, const QString& next)
{
    ASSERT_TRUE(waitUntil([&] { return w.focusedName() == name; })) << w.focusedName().toStdString();
    QQuickItem* now = w.focused();
    EXPECT_TRUE(isShown(now));
    EXPECT_TRUE(now->property("visualFocus").toBool());
    EXPECT_TRUE(busToldFocus(log, name));
    QStringList controls;
    for (const BusFocusHolder& holder : focusHoldersOverBus()) {
        EXPECT_TRUE(holder.showing && !holder.place.isEmpty())
            << holder.node.role.toStdString() << " \"" << holder.node.name.toStdString() << "\" is hidden";
        if (holder.focusable)
            controls << holder.node.name;
    }
    EXPECT_EQ(controls.join(u'|').toStdString(), name.toStdString());
    ASSERT_TRUE(w.press(XK_Tab));
    EXPECT_EQ(w.focusedName(), next);
}

} // namespace

TEST(KeyboardFocus, TheDeletionQuestionOpenedOverTheBusGivesTheFocusBackToItsOpener)
{
    const QString opener = QStringLiteral("Delete Tovrick account\u2026");
    struct Case {
        const char* way;
        bool signOutFocused; // else no control had the focus before it opened
        bool cancelOverBus; // else Escape
    };
    const Case cases[] = {
        {"from Sign out, Escape", true, false},
        {"from Sign out, Cancel over the bus", true, true},
        {"from nothing, Escape", false, false},
        {"from nothing, Cancel over the bus", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.way);
        KeyWindow w;
        w.view().selectPage(static_cast<int>(FocusPage::account));
        ASSERT_TRUE(pressOverBus(QStringLiteral("Account deletion")));
        ASSERT_TRUE(waitUntil([&] { return isShown(w.item("macAccountDelete")); }));
        if (c.signOutFocused) {
            ASSERT_TRUE(w.press(XK_Tab));
            ASSERT_EQ(w.focusedName(), QStringLiteral("Sign out"));
        } else {
            ASSERT_EQ(w.focusedName(), QString());
        }
        ASSERT_TRUE(pressOverBus(opener));
        ASSERT_TRUE(waitUntil([&] { return w.view().confirmDelete() && w.focusedName() == QStringLiteral("Cancel"); }));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        if (c.cancelOverBus) {
            ASSERT_TRUE(pressOverBus(QStringLiteral("Cancel")));
        } else {
            ASSERT_TRUE(w.press(XK_Escape, 0, [&] { return !w.view().confirmDelete(); }));
        }
        ASSERT_TRUE(waitUntil([&] { return !w.view().confirmDelete(); }));
        // The opener is the page's last control: Tab goes on to the tabs.
        expectFocusMovedTo(w, log, opener, QStringLiteral("Focus"));
        EXPECT_TRUE(w.account.isSignedIn());
    }
}

TEST(KeyboardFocus, AButtonThatTurnsItselfOffHandsTheFocusToTheNearestControlThatTakesIt)
{
    struct Case {
        const char* control;
        int from;
        int to; // its limit
        const char* lands;
    };
    const Case cases[] = {
        {"Decrease custom duration", 2, 1, "Increase custom duration"},
        {"Increase custom duration", 239, 240, "Decrease custom duration"},
    };
    KeyWindow w;
    w.view().setTask(QStringLiteral("Write"));
    w.item("macFocusCustom")->setProperty("expanded", true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        w.view().setMinutes(c.from);
        ASSERT_TRUE(w.tabTo(QString::fromUtf8(c.control)));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        ASSERT_TRUE(w.press(XK_space, 0, [&] { return w.view().minutes() == c.to; }));
        EXPECT_FALSE(w.item(c.to == 1 ? "macFocusMinutesDown" : "macFocusMinutesUp")->isEnabled());
        expectFocusMovedTo(w, log, QString::fromUtf8(c.lands), QStringLiteral("Start focus"));
    }
}

TEST(KeyboardFocus, APageSwitchedOverTheBusTakesTheFocusToTheTabThatShowsTheNewPage)
{
    struct Case {
        FocusPage page;
        const char* control; // has the focus when the tab is pressed
        const char* tab;
        const char* next; // after the tab, by Tab
    };
    const Case cases[] = {
        {FocusPage::focus, "25 min", "Sounds", "Account"},
        {FocusPage::sounds, "Du schaffst das anh\u00f6ren", "History", "Vision Images"},
        {FocusPage::vision, "Remove image 2", "Account", "Sign out"},
    };
    KeyWindow w;
    storeImages(w, 2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.control);
        w.view().selectPage(static_cast<int>(c.page));
        ASSERT_TRUE(w.tabTo(QString::fromUtf8(c.control)));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        ASSERT_TRUE(pressOverBus(QString::fromUtf8(c.tab)));
        ASSERT_TRUE(waitUntil([&] { return w.view().pageTitle() == QString::fromUtf8(c.tab); }));
        expectFocusMovedTo(w, log, QString::fromUtf8(c.tab), QString::fromUtf8(c.next));
    }
}
