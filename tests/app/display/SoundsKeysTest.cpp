// The Sounds page and its two dialogs used by keyboard alone (keys through XTest on the display) and
// as a screen reader follows them (the accessibility bus): the focus stays where the user is, the
// dialogs take and give it back, and the tree tells only what changed.
#include <QAccessible>
#include <QDir>
#include <QPointer>
#include <QQuickItem>
#include <QQuickView>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/motivation/MotivationLibrary.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"
#include "Tovrick/motivation/MotivationSoundsView.h"
#include "app/display/BusEvents.h"
#include "app/display/QuietSound.h"
#include "app/display/BusPress.h"
#include "focus/FocusWindowWorld.h"
#include "motivation/Mp4Fixtures.h"
#include "shared/account/TovrickSignInView.h"
#include "shared/util/Settings.h"
#include "support/LoopbackApi.h"
#include "support/QuickItems.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>

namespace {

const QString kUser = QStringLiteral("user-1");

// Keys and clicks as the X server gets them from a keyboard and a mouse.
struct Keyboard {
    Display* x = XOpenDisplay(nullptr);
    ~Keyboard() { XCloseDisplay(x); }
    void tap(KeySym symbol)
    {
        const KeyCode code = XKeysymToKeycode(x, symbol);
        XTestFakeKeyEvent(x, code, True, CurrentTime);
        XTestFakeKeyEvent(x, code, False, CurrentTime);
        XFlush(x);
    }
    void click(QQuickItem* item)
    {
        // Where it is drawn: positioners place their items when the next frame is made.
        QSignalSpy drawn(item->window(), &QQuickWindow::frameSwapped);
        item->window()->update();
        drawn.wait(10000);
        const QPoint at = item->mapToGlobal(QPointF(item->width() / 2, item->height() / 2)).toPoint();
        XTestFakeMotionEvent(x, -1, at.x(), at.y(), CurrentTime);
        XTestFakeButtonEvent(x, 1, True, CurrentTime);
        XTestFakeButtonEvent(x, 1, False, CurrentTime);
        XFlush(x);
    }
};

// An own recording called "Clip 0" in the signed-in user's fresh library; its id.
QString freshLibraryWithOwnClip()
{
    QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
    const LocalMotivationLibrary library(MotivationAudioStore::directoryFor(kUser));
    library.add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QStringLiteral("Clip 0"), 1.0);
    return library.load().clips.value(0).id;
}

MotivationLibrary storedLibrary()
{
    return LocalMotivationLibrary(MotivationAudioStore::directoryFor(kUser)).load();
}

bool storedOn(const QString& id)
{
    const MotivationLibrary library = storedLibrary();
    if (motivation::isDefaultId(id))
        return !library.disabledDefaults.contains(id);
    for (const MotivationClip& clip : library.clips)
        if (clip.id == id)
            return clip.enabled;
    return false;
}

// The focus window, signed in, on its Sounds page, active for the keyboard.
struct SoundsWindow : FocusWindowWorld {
    LoopbackApi api;
    QuietSound sound;
    MotivationAudioStore store { MotivationAudioStore::Ports {
        std::make_unique<AccountClipOwners>(account), std::make_unique<QuietSound::NoPlayer>(),
        std::make_unique<QuietSound::NoVoice>(), [](qsizetype) { return qsizetype(0); } } };
    MacFocusPanel panel { &account, &access };
    QString own = freshLibraryWithOwnClip();
    Keyboard keys;

    SoundsWindow()
    {
        FocusEnvironment environment = world.environment();
        environment.settings = &Settings::shared();
        engine = std::make_unique<FocusCompanion>(std::move(environment));
        signInForTests(account, api);
        account.clearSession();
        account.adoptSession(focusWindowSession(kUser));
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        panel.setVisionLibrary(vision);
        panel.clipStore = &store;
        panel.show(*engine, [] {});
        panel.sounds()->recordingPorts.recorder = &sound;
        panel.sounds()->recordingPorts.access = &sound;
        EXPECT_TRUE(QTest::qWaitForWindowExposed(panel.window()));
        panel.view()->selectPage(static_cast<int>(FocusPage::sounds));
        panel.window()->requestActivate();
        EXPECT_TRUE(QTest::qWaitForWindowActive(panel.window()));
        EXPECT_TRUE(waitUntil([&] { return tile(own) != nullptr; }));
    }
    QQuickView* window() { return panel.window(); }
    QQuickItem* item(const QString& name) { return findItem(panel.window()->rootObject(), name); }
    QQuickItem* tile(const QString& id) { return item(QStringLiteral("motivationTile-") + id); }
    QQuickItem* control(const QString& id, const char* name) { return findItem(tile(id), QString::fromUtf8(name)); }
    QQuickItem* focused() { return window()->activeFocusItem(); }
    // Presses a key and waits until the focus has moved off `from`.
    bool moveFocus(KeySym key, QQuickItem* from)
    {
        keys.tap(key);
        return waitUntil([&] { return focused() != from; });
    }
};

// Whether `item` lies inside `outer`.
bool inside(QQuickItem* item, QQuickItem* outer)
{
    for (; item; item = item->parentItem())
        if (item == outer)
            return true;
    return false;
}

const QString kDefault = QStringLiteral("default-1");

} // namespace

TEST(SoundsKeys, TheFocusStaysOnTheControlAKeyUsed)
{
    SoundsWindow w;
    struct Case {
        const char* what;
        QString tile;
        const char* control;
        KeySym key;
        std::function<bool()> done;
        // Where Tab goes next: the control of that name in the same tile; none: not looked at.
        const char* next;
    };
    const Case cases[] = {
        {"play by Space", kDefault, "motivationPlay", XK_space, [&] { return w.store.playingID() == kDefault; }, "motivationSwitch"},
        {"stop by Return", kDefault, "motivationPlay", XK_Return, [&] { return !w.store.playingID(); }, "motivationSwitch"},
        {"default switch by Space", kDefault, "motivationSwitch", XK_space, [&] { return !storedOn(kDefault); }, nullptr},
        {"default switch by Return", kDefault, "motivationSwitch", XK_Return, [&] { return storedOn(kDefault); }, nullptr},
        {"own play by Space", w.own, "motivationPlay", XK_space, [&] { return !w.store.message().isEmpty(); }, "motivationDelete"},
        {"own switch by Space", w.own, "motivationSwitch", XK_space, [&] { return !storedOn(w.own); }, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QPointer<QQuickItem> control = w.control(c.tile, c.control);
        ASSERT_TRUE(control);
        control->forceActiveFocus(Qt::TabFocusReason);
        w.keys.tap(c.key);
        ASSERT_TRUE(waitUntil(c.done));
        ASSERT_TRUE(control) << "the control was made anew";
        EXPECT_EQ(w.focused(), control.data());
        if (c.next) {
            ASSERT_TRUE(w.moveFocus(XK_Tab, control));
            EXPECT_EQ(w.focused(), w.control(c.tile, c.next));
        }
    }
}

TEST(SoundsKeys, APressTellsTheBusOnlyWhatChanged)
{
    SoundsWindow w;
    BusEventLog log({QStringLiteral("object:state-changed:checked"), QStringLiteral("object:state-changed:showing"),
                     QStringLiteral("object:property-change:accessible-name")});
    const auto count = [&](const char* type) {
        int n = 0;
        for (const BusEvent& e : log.events())
            n += e.type == QLatin1String(type);
        return n;
    };
    struct Case {
        const char* what;
        const char* control;
        std::function<bool()> done;
        int checked; // the switch's state in its one state change; -1: none
        QStringList names; // the names changed, as they are now
    };
    const Case cases[] = {
        {"switch off", "motivationSwitch", [&] { return !storedOn(kDefault); }, 0, {}},
        {"switch on", "motivationSwitch", [&] { return storedOn(kDefault); }, 1, {}},
        {"play", "motivationPlay", [&] { return w.store.playingID() == kDefault; }, -1, {QStringLiteral("Wiedergabe stoppen")}},
        {"stop", "motivationPlay", [&] { return !w.store.playingID(); }, -1, {QStringLiteral("Du schaffst das anhören")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.control(kDefault, c.control)->forceActiveFocus(Qt::TabFocusReason);
        log.catchUp();
        log.clear();
        w.keys.tap(XK_space);
        ASSERT_TRUE(waitUntil(c.done));
        ASSERT_TRUE(log.catchUp());
        if (c.checked >= 0) {
            ASSERT_EQ(count("object:state-changed:checked"), 1);
            for (const BusEvent& e : log.events()) {
                if (e.type == QLatin1String("object:state-changed:checked")) {
                    EXPECT_EQ(e.source, QStringLiteral("Du schaffst das"));
                    EXPECT_EQ(e.detail, c.checked);
                }
            }
        } else {
            EXPECT_EQ(count("object:state-changed:checked"), 0);
        }
        QStringList names;
        for (const BusEvent& e : log.events())
            if (e.type == QLatin1String("object:property-change:accessible-name"))
                names << e.source;
        EXPECT_EQ(names, c.names);
        EXPECT_EQ(count("object:state-changed:showing"), 0);
    }
}

TEST(SoundsKeys, ASwitchTheStoreRefusesSnapsBackHoweverItWasTurned)
{
    const std::pair<const char*, std::function<void(SoundsWindow&, QQuickItem*)>> ways[] = {
        {"click", [](SoundsWindow& w, QQuickItem* toggle) { w.keys.click(toggle); }},
        {"Space", [](SoundsWindow& w, QQuickItem* toggle) {
             toggle->forceActiveFocus(Qt::TabFocusReason);
             w.keys.tap(XK_space);
         }},
        {"Toggle", [](SoundsWindow&, QQuickItem*) { actOverBus(QStringLiteral("Du schaffst das"), QStringLiteral("Toggle")); }},
        {"Press", [](SoundsWindow&, QQuickItem*) { actOverBus(QStringLiteral("Du schaffst das"), QStringLiteral("Press")); }},
    };
    for (const auto& [way, turn] : ways) {
        SCOPED_TRACE(way);
        SoundsWindow w;
        QQuickItem* toggle = w.control(kDefault, "motivationSwitch");
        ASSERT_TRUE(toggle && toggle->property("checked").toBool());
        // A folder where the library file goes: the save fails.
        QFile::remove(MotivationAudioStore::directoryFor(kUser) + QStringLiteral("/library.json"));
        QDir().mkpath(MotivationAudioStore::directoryFor(kUser) + QStringLiteral("/library.json"));
        turn(w, toggle);
        ASSERT_TRUE(waitUntil([&] { return !w.store.message().isEmpty(); }));
        EXPECT_TRUE(w.store.enabled(kDefault));
        EXPECT_TRUE(toggle->property("checked").toBool());
        int switches = 0;
        for (const BusNode& node : shownOverBus()) {
            if (node.name == QStringLiteral("Du schaffst das") && node.role != QStringLiteral("label")) {
                ++switches;
                EXPECT_TRUE(node.checked) << node.role.toStdString();
            }
        }
        EXPECT_EQ(switches, 1);
    }
    QDir(MotivationAudioStore::directoryFor(kUser)).removeRecursively();
}

TEST(SoundsKeys, EachDialogTakesKeepsAndGivesBackTheFocusAndEscapeCancels)
{
    struct Case {
        const char* what;
        bool byClick;
        std::function<QQuickItem*(SoundsWindow&)> opener;
        const char* dialog;
        // The control the focus lands on, and what Tab visits from there on, in order.
        QStringList focusOrder;
        std::function<bool(SoundsWindow&)> open;
    };
    const auto sheetOpen = [](SoundsWindow& w) { return w.panel.sounds()->recording(); };
    const auto questionOpen = [](SoundsWindow& w) { return w.panel.sounds()->deleteDialogShown(); };
    const auto record = [](SoundsWindow& w) { return w.item(QStringLiteral("recordMotivation")); };
    const auto trash = [](SoundsWindow& w) { return w.control(w.own, "motivationDelete"); };
    const QStringList sheetOrder = {QStringLiteral("stopMotivationRecording"), QStringLiteral("stopMotivationRecording")};
    const QStringList questionOrder = {QStringLiteral("motivationCancelDelete"), QStringLiteral("motivationConfirmDelete"),
                                       QStringLiteral("motivationCancelDelete")};
    const Case cases[] = {
        {"sheet by Space", false, record, "motivationRecordingSheet", sheetOrder, sheetOpen},
        {"sheet by click", true, record, "motivationRecordingSheet", sheetOrder, sheetOpen},
        {"question by Space", false, trash, "motivationDeleteDialog", questionOrder, questionOpen},
        {"question by click", true, trash, "motivationDeleteDialog", questionOrder, questionOpen},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundsWindow w;
        QPointer<QQuickItem> opener = c.opener(w);
        ASSERT_TRUE(opener);
        if (c.byClick) {
            w.keys.click(opener);
        } else {
            opener->forceActiveFocus(Qt::TabFocusReason);
            w.keys.tap(XK_space);
        }
        ASSERT_TRUE(waitUntil([&] { return c.open(w); }));
        QObject* popup = w.window()->rootObject()->findChild<QObject*>(QString::fromUtf8(c.dialog));
        ASSERT_TRUE(popup);
        auto* content = popup->property("contentItem").value<QQuickItem*>();
        ASSERT_TRUE(waitUntil([&] { return w.focused() && w.focused()->objectName() == c.focusOrder.first(); }))
            << "the dialog did not take the focus";
        // Tab goes round inside, wherever it lands.
        for (qsizetype n = 1; n < c.focusOrder.size(); ++n) {
            QQuickItem* before = w.focused();
            w.keys.tap(XK_Tab);
            if (c.focusOrder[n] != before->objectName()) {
                ASSERT_TRUE(waitUntil([&] { return w.focused() != before; }));
            }
            EXPECT_EQ(w.focused()->objectName(), c.focusOrder[n]);
            EXPECT_TRUE(inside(w.focused(), content));
        }
        w.keys.tap(XK_Escape);
        ASSERT_TRUE(waitUntil([&] { return !c.open(w); })) << "Escape did not close it";
        ASSERT_TRUE(waitUntil([&] { return w.focused() == opener.data(); })) << "the focus did not come back";
        // Escape cancels: nothing was recorded or deleted.
        EXPECT_EQ(storedLibrary().clips.size(), 1);
        EXPECT_EQ(w.panel.sounds()->sheet(), nullptr);
    }
}

TEST(SoundsKeys, WhatADialogCoversIsInertAndSaysSo)
{
    struct Case {
        const char* what;
        std::function<void(SoundsWindow&)> open;
    };
    const Case cases[] = {
        {"recording sheet", [](SoundsWindow& w) { w.panel.sounds()->openRecording(); }},
        {"clip deletion", [](SoundsWindow& w) { w.panel.sounds()->askDelete(w.own); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundsWindow w;
        // Tall enough to scroll.
        w.window()->resize(640, 520);
        auto* area = qobject_cast<QQuickItem*>(w.item(QStringLiteral("macFocusSoundsArea")));
        ASSERT_TRUE(area);
        QObject* flickable = nullptr;
        for (QObject* child : area->findChildren<QObject*>())
            if (!flickable && child->inherits("QQuickFlickable"))
                flickable = child;
        ASSERT_TRUE(flickable);
        const auto contentY = [&] { return flickable->property("contentY").toDouble(); };
        ASSERT_TRUE(waitUntil([&] {
            return flickable->property("contentHeight").toDouble() > flickable->property("height").toDouble(); }));
        // Part way down, so that either way could move it.
        flickable->setProperty("contentY", 100.0);
        c.open(w);
        const double top = contentY();
        for (const char* action : {"Increase", "Decrease", "SetFocus"})
            actOnEachOverBus(QStringLiteral("Sounds"), QString::fromUtf8(action));
        pressOverBus(QStringLiteral("Du schaffst das anh\u00f6ren"));
        EXPECT_EQ(contentY(), top);
        EXPECT_FALSE(w.store.playingID());
        for (const char* behind : {"Du schaffst das anh\u00f6ren", "Du schaffst das", "History"}) {
            const BusNode node = shownNodeOverBus(QString::fromUtf8(behind));
            EXPECT_FALSE(node.role.isEmpty()) << behind;
            EXPECT_FALSE(node.enabled) << behind;
        }
    }
}

namespace {

// Two more own recordings after "Clip 0", in order; their ids.
QStringList addOwnClips(SoundsWindow& w)
{
    const LocalMotivationLibrary library(MotivationAudioStore::directoryFor(kUser));
    for (const char* title : {"Clip 1", "Clip 2"})
        library.add(fixtures::mp4Lasting(1.0), QUuid::createUuid(), QString::fromUtf8(title), 1.0);
    w.store.refresh();
    QStringList ids;
    for (const MotivationClip& clip : storedLibrary().clips)
        ids << clip.id;
    EXPECT_TRUE(waitUntil([&] { return w.tile(ids.value(2)) != nullptr; }));
    return ids;
}

} // namespace

TEST(SoundsKeys, ADeletedClipsFocusGoesToTheTileInItsPlaceElseTheOneBeforeElseTheFirstControl)
{
    SoundsWindow w;
    const QStringList ids = addOwnClips(w);
    ASSERT_EQ(ids.size(), 3);
    struct Step {
        const char* what;
        QString deleted;
        std::function<QQuickItem*()> lands;
    };
    const Step steps[] = {
        {"the middle one: the next", ids[1], [&] { return w.control(ids[2], "motivationDelete"); }},
        {"the last one: the one before", ids[2], [&] { return w.control(ids[0], "motivationDelete"); }},
        {"the only one: the page's first control", ids[0], [&] { return w.control(kDefault, "motivationPlay"); }},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        QQuickItem* trash = w.control(step.deleted, "motivationDelete");
        ASSERT_TRUE(trash);
        trash->forceActiveFocus(Qt::TabFocusReason);
        w.keys.tap(XK_space);
        ASSERT_TRUE(waitUntil([&] { return w.focused() && w.focused()->objectName() == QStringLiteral("motivationCancelDelete"); }));
        QQuickItem* cancel = w.focused();
        ASSERT_TRUE(w.moveFocus(XK_Tab, cancel));
        ASSERT_EQ(w.focused()->objectName(), QStringLiteral("motivationConfirmDelete"));
        BusEventLog log({QStringLiteral("object:state-changed:focused")});
        w.keys.tap(XK_space);
        EXPECT_TRUE(waitUntil([&] {
            return w.tile(step.deleted) == nullptr && step.lands() && w.focused() == step.lands();
        })) << (w.focused() ? w.focused()->objectName().toStdString() : "nothing");
        ASSERT_TRUE(w.focused());
        EXPECT_TRUE(w.focused()->property("visualFocus").toBool());
        const QString name = QAccessible::queryAccessibleInterface(w.focused())->text(QAccessible::Name);
        EXPECT_TRUE(log.waitFor([&](const std::vector<BusEvent>& events) {
            return std::any_of(events.begin(), events.end(), [&](const BusEvent& event) {
                return event.type == QLatin1String("object:state-changed:focused") && event.source == name && event.detail == 1;
            });
        })) << name.toStdString();
    }
}

TEST(SoundsKeys, ADialogOpenedOverTheBusGivesTheFocusBackToItsOpener)
{
    SoundsWindow w;
    QPointer<QQuickItem> trash = w.control(w.own, "motivationDelete");
    ASSERT_TRUE(trash);
    w.item(QStringLiteral("recordMotivation"))->forceActiveFocus(Qt::TabFocusReason);
    ASSERT_TRUE(pressOverBus(QStringLiteral("Clip 0 l\u00f6schen")));
    ASSERT_TRUE(waitUntil([&] { return w.focused() && w.focused()->objectName() == QStringLiteral("motivationCancelDelete"); }));
    w.keys.tap(XK_Escape);
    ASSERT_TRUE(waitUntil([&] { return !w.panel.sounds()->deleteDialogShown(); }));
    EXPECT_TRUE(waitUntil([&] { return w.focused() == trash.data(); }))
        << (w.focused() ? w.focused()->objectName().toStdString() : "nothing");
    EXPECT_EQ(storedLibrary().clips.size(), 1);
}

TEST(SoundsKeys, EachDialogIsNamedByItsTitleAndDescribedByItsMessage)
{
    struct Case {
        const char* what;
        std::function<void(SoundsWindow&)> open;
        QString title;
        QString message;
    };
    const Case cases[] = {
        {"recording sheet", [](SoundsWindow& w) { w.panel.sounds()->openRecording(); },
         QStringLiteral("Sag was Motivierendes"),
         QStringLiteral("Ein paar Worte von dir. F\u00fcr den Moment, in dem du sie brauchst.")},
        {"clip deletion", [](SoundsWindow& w) { w.panel.sounds()->askDelete(w.own); },
         QStringLiteral("Diese Aufnahme l\u00f6schen?"), QString()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoundsWindow w;
        c.open(w);
        BusNode dialog;
        for (const BusNode& node : shownOverBus())
            if (node.role == QStringLiteral("dialog"))
                dialog = node;
        EXPECT_EQ(dialog.name, c.title);
        EXPECT_EQ(dialog.description, c.message);
    }
}
