// The focus window used by keyboard alone, keys posted through XTest on the display, and as a screen
// reader reads it over the accessibility bus: where Tab goes, what a dialog does with the focus,
// what the tree says is off, open or scrolled.
#include <QAccessible>
#include <QDir>
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
#include "focus/FocusWindowWorld.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

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
    QString focusedName()
    {
        QQuickItem* item = focused();
        QAccessibleInterface* node = item ? QAccessible::queryAccessibleInterface(item) : nullptr;
        return node ? node->text(QAccessible::Name) : QString();
    }

    // Posts a key as the user's and waits until the window has taken it: the focus moved, or
    // `done` holds.
    bool press(unsigned long keysym, unsigned held = 0, std::function<bool()> done = {})
    {
        QQuickItem* before = focused();
        if (!done)
            done = [this, before] { return focused() != before; };
        bool posted = false;
        waitUntil([&] {
            posted = keys.key(keysym, held) == SyntheticInput::Post::posted;
            return posted;
        });
        return posted && waitUntil(done);
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
          QStringLiteral("60 min"), QStringLiteral("Custom duration"), QStringLiteral("\u2212"), QStringLiteral("+"),
          QStringLiteral("Start focus")}},
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
        {"+", XK_Return, [&] { return w.view().minutes() == 61; }},
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
