#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <initializer_list>
#include <iostream>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostPointing.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/X11Display.h"
#include "Tovrick/screen/XTestInput.h"
#include "assistant/display/DesktopParts.h"
#include "support/BusyCores.h"
#include "support/RunTask.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// The real input, with a look at each key as it comes to the gate: the gate's wait asks when the
// key may go before it waits for the user's hands, then looks at the focus, then posts.
class WatchedInput : public SyntheticInput {
public:
    struct Armed {
        // Keys posted before.
        int posted = 0;
        // 0: any key.
        unsigned long keysym = 0;
        std::function<void()> then;
    };
    std::optional<Armed> armed;
    int posted = 0;

    bool available() override { return m_real.available(); }
    std::optional<QPointF> pointer() override { return m_real.pointer(); }
    void warp(QPointF point) override { m_real.warp(point); }
    void move(QPointF point) override { m_real.move(point); }
    void button(Button which, bool down) override { m_real.button(which, down); }
    void wheel(int dx, int dy) override { m_real.wheel(dx, dy); }
    Modifiers modifiers() override { return m_real.modifiers(); }
    Post key(unsigned long keysym, unsigned held) override
    {
        const Post post = m_real.key(keysym, held);
        if (post == Post::posted)
            ++posted;
        return post;
    }
    std::chrono::milliseconds keyDelay(unsigned long keysym) override
    {
        if (armed && posted >= armed->posted && (armed->keysym == 0 || armed->keysym == keysym))
            std::exchange(armed, std::nullopt)->then();
        return m_real.keyDelay(keysym);
    }
    int doubleClickMilliseconds() override { return m_real.doubleClickMilliseconds(); }

private:
    XTestInput m_real;
};

// A GTK 3 form at the scale the test is given, and the assistant's tools with the real character,
// screen reading and input: a look, then actions by the ids the look listed.
class GtkFormOnDisplay : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("GDK_SCALE"), QString::number(GetParam()));
        env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
        env.remove(QStringLiteral("NO_AT_BRIDGE"));
        form.setProcessEnvironment(env);
        form.start(QStringLiteral(GTK_FORM), {});
        ASSERT_TRUE(until(QStringLiteral("READY"), std::chrono::seconds(20))) << seen.join('\n').toStdString();
        for (const QString& line : std::as_const(seen))
            if (line.startsWith(QLatin1String("WINDOW ")))
                window = line.mid(7).toULongLong();
        ASSERT_NE(window, 0u);
        activate(window);
        ASSERT_TRUE(waitUntil([&] {
            const auto app = X11Display().activeWindowApp();
            return app && app->pid == form.processId();
        })) << "the form did not become the active window";

        // The form is on the accessibility bus with its fields; a loaded machine gets all the time
        // a walk needs (cutting one short is the screen tests' business).
        ControlsReader::setWalkBudget(std::chrono::seconds(20));
        const qint64 pid = form.processId();
        ASSERT_TRUE(readControlsUntil(
            pid,
            [](const ControlsReader::Reading& reading) {
                return std::any_of(reading.controls.begin(), reading.controls.end(),
                                   [](const auto& each) { return each.label == QLatin1String("Notes"); });
            },
            std::chrono::seconds(30)))
            << "the form's fields never showed on the accessibility bus";

        overlay = std::make_unique<CursorOverlay>();
        overlay->start();
        pointing = std::make_shared<HostPointing>(overlay->view(), HostPointing::Ports {});
        ComputerActions::Ports ports = desktopPorts(control, screen);
        // The real check, each answer kept; a test may act on the form once it has answered.
        ports.focusedField = [this]() -> QCoro::Task<ControlsReader::FocusedField> {
            if (beforeCheck)
                beforeCheck();
            auto checking = ControlsReader::focusedFieldIsSecure();
            ControlsReader::FocusedField found = co_await std::move(checking);
            checks.push_back({found, input->posted});
            if (const std::function<void()> then = std::exchange(afterCheck, {}))
                then();
            co_return found;
        };
        actions = std::make_unique<ComputerActions>(pointing, std::move(ports));
    }
    void TearDown() override
    {
        ControlsReader::setWalkBudget(ControlsReader::kWalkBudget);
        actions.reset();
        pointing.reset();
        if (overlay)
            overlay->stop();
        overlay.reset();
        form.kill();
        form.waitForFinished(3000);
    }

    // Reads the form's lines until one starting with `prefix` comes after those already seen.
    bool until(const QString& prefix, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        bool found = false;
        waitUntil(
            [&] {
                while (!found && form.canReadLine()) {
                    read();
                    found = seen.back().startsWith(prefix);
                }
                return found;
            },
            timeout);
        return found;
    }
    void read()
    {
        seen << QString::fromUtf8(form.readLine()).trimmed();
        if (watching && seen.back().startsWith(watching->first))
            std::exchange(watching, std::nullopt)->second();
    }
    // Runs `then` once, as soon as the form says a line starting with `prefix` (while an action runs).
    void watch(const QString& prefix, std::function<void()> then)
    {
        watching.emplace(prefix, std::move(then));
        QObject::connect(&form, &QProcess::readyReadStandardOutput, &form, [this] {
            while (watching && form.canReadLine())
                read();
        });
    }
    ToolResult look()
    {
        return runTask(HostTools::lookAtScreen(screen, pointing, std::nullopt), std::chrono::seconds(120));
    }
    ToolResult call(const char* name, const QString& arguments)
    {
        return runTask(actions->handle(QString::fromLatin1(name), toolargs::parse(arguments), {}),
                       std::chrono::seconds(120));
    }
    // The control of the latest look with this label.
    std::optional<ControlsReader::Control> listed(const char* label) const
    {
        if (!pointing->snapshot())
            return std::nullopt;
        for (const auto& each : pointing->snapshot()->controls)
            if (each.label == QLatin1String(label))
                return each;
        return std::nullopt;
    }
    // A loaded machine may keep the form from answering every call of a walk in time; the model
    // (like this test) looks again when what it wants is not listed. Ids are numbered in the order a
    // look read the controls, so a walk cut short elsewhere renumbers them: ids used together come
    // from one look. Empty when the controls were never listed together.
    QStringList idsOf(std::initializer_list<const char*> labels)
    {
        for (int attempt = 0; attempt <= 8; ++attempt) {
            QStringList ids;
            for (const char* label : labels)
                if (const auto found = listed(label))
                    ids << found->id;
            if (ids.size() == static_cast<qsizetype>(labels.size()))
                return ids;
            if (attempt < 8)
                look();
        }
        return {};
    }
    QString idOf(const char* label)
    {
        const QStringList ids = idsOf({label});
        return ids.isEmpty() ? QString() : ids.front();
    }

    // Runs `then` once, as a key comes to the gate (before the gate waits for the user's hands and
    // looks at the focus) once `posted` keys have gone out; only for `keysym` when given.
    void atKey(std::function<void()> then, int posted = 0, unsigned long keysym = 0)
    {
        input->armed = WatchedInput::Armed {input->posted + posted, keysym, std::move(then)};
    }
    // Waits until the bus has told this process that the focus left `element` or that the element
    // changed, since the last check: the gate's next look sees it.
    bool busTold(const QString& element, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        return waitUntil(
            [&] {
                auto following = ControlsReader::focusStaysOn(element);
                const ControlsReader::Follow follow = runTask(std::move(following), std::chrono::seconds(30)).follow;
                return follow == ControlsReader::Follow::moved || follow == ControlsReader::Follow::changed;
            },
            timeout);
    }
    // The element the last check found.
    QString checkedElement() const { return checks.empty() ? QString() : checks.back().field.element; }
    // Says (on failure, and in the test's output) which of the program's ways a loaded machine made
    // the test take.
    static void tookPath(const std::string& path)
    {
        std::cout << "[   PATH   ] " << path << std::endl;
        ::testing::Test::RecordProperty("path", path);
    }

    // Gives the form a command and waits for its answer, so every line before it has been read.
    bool command(const QString& line)
    {
        form.write((line + QLatin1Char('\n')).toUtf8());
        return until(QStringLiteral("DONE ") + line);
    }
    // Types `text` into the first field and ends the form a quarter of a second after the first key
    // landed there, `other` taking the keyboard focus then (as a window manager hands it on) when
    // given; every line the form said before it ended is read.
    ToolResult typeWhileTheFormEnds(const QString& text, BareWindow* other)
    {
        EXPECT_TRUE(command(QStringLiteral("FOCUS first")));
        watch(QStringLiteral("TEXT first "), [this, other] {
            QTimer::singleShot(250, &form, [this, other] {
                form.kill();
                if (other)
                    activate(other->id());
            });
        });
        const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "%1"})").arg(text));
        EXPECT_TRUE(waitUntil([&] { return form.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
        while (form.canReadLine())
            read();
        return typed;
    }
    // The lines seen so far that start with `prefix`.
    QStringList lines(const char* prefix) const
    {
        QStringList found;
        for (const QString& line : seen)
            if (line.startsWith(QLatin1String(prefix)))
                found << line;
        return found;
    }

    QProcess form;
    QStringList seen;
    std::optional<std::pair<QString, std::function<void()>>> watching;
    // Runs once the next check has answered. Only a call's first check comes on every machine:
    // whether another follows depends on what it found (without the field's frame nothing flies
    // and nothing is checked after the flight); act on later moments with atKey().
    std::function<void()> afterCheck;
    // Runs as every check begins.
    std::function<void()> beforeCheck;
    // Every check's answer, with the keys posted before it.
    struct Check {
        ControlsReader::FocusedField field;
        int posted = 0;
    };
    std::vector<Check> checks;
    quint64 window = 0;
    std::unique_ptr<CursorOverlay> overlay;
    std::shared_ptr<HostPointing> pointing;
    std::shared_ptr<ScreenReader> screen = std::make_shared<ScreenReader>();
    std::shared_ptr<WatchedInput> input = std::make_shared<WatchedInput>();
    ComputerControl control {[this] {
        ComputerControl::Ports ports;
        ports.input = input;
        return ports;
    }()};
    std::unique_ptr<ComputerActions> actions;
};

TEST_P(GtkFormOnDisplay, ClickScrollAndDragByIdReachTheControlsListed)
{
    const ToolResult first = look();
    ASSERT_TRUE(first.image);
    for (const char* label : { "First field", "Password field", "Second field", "Volume", "End", "Notes" })
        ASSERT_FALSE(idOf(label).isEmpty()) << label << " is not listed:\n" << first.text.toStdString();

    // The fields lie inside the form's window as the display has it, whatever the form's own scale.
    const auto geometry = DisplayGeometry::mainDisplay();
    ASSERT_TRUE(geometry);
    const QList<X11Display::PlacedWindow> windows = X11Display().windowsOf(form.processId());
    ASSERT_EQ(windows.size(), 1);
    const QRectF inside = geometry->toPoints(QRectF(windows.front().client));
    for (const char* label : { "First field", "Second field" }) {
        ASSERT_FALSE(idOf(label).isEmpty()) << label;
        EXPECT_TRUE(inside.contains(listed(label)->rect))
            << label << " listed at " << listed(label)->rect.x() << "," << listed(label)->rect.y() << " "
            << listed(label)->rect.width() << "x" << listed(label)->rect.height() << " outside the window at "
            << inside.x() << "," << inside.y() << " " << inside.width() << "x" << inside.height();
    }

    const ToolResult clicked = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Second field")));
    EXPECT_TRUE(clicked.text.startsWith(QStringLiteral("Clicked \"Second field\".\n"))) << clicked.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("FOCUS second"))) << seen.join('\n').toStdString();

    // Ids from the look that ended the click.
    const ToolResult scrolled = call("scroll", QStringLiteral(R"({"target_id": "%1", "direction": "down"})").arg(idOf("Notes")));
    EXPECT_TRUE(scrolled.text.startsWith(QStringLiteral("Scrolled down.\n"))) << scrolled.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("SCROLLED"))) << seen.join('\n').toStdString();

    const QStringList ends = idsOf({"Volume", "End"});
    ASSERT_EQ(ends.size(), 2) << "the slider and the button were never listed in one look";
    const ToolResult dragged = call("drag", QStringLiteral(R"({"from_id": "%1", "to_id": "%2"})").arg(ends[0], ends[1]));
    EXPECT_TRUE(dragged.text.startsWith(QStringLiteral("Dragged it.\n"))) << dragged.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("VALUE 100"))) << seen.join('\n').toStdString();
}

// The assistant's typing into the form, at one scale: where the keys go is no matter of scale.
class GtkFormTyping : public GtkFormOnDisplay {};

TEST_P(GtkFormTyping, AKeyThatTypesACharacterIsCheckedAsTypingIs)
{
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    for (const char* keys : {"h", "shift+x", "space"}) {
        SCOPED_TRACE(keys);
        EXPECT_EQ(call("press_keys", QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(keys))).text,
                  ComputerActions::passwordField());
    }
    EXPECT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "return"})")).text.startsWith(QStringLiteral("Pressed return.")));
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    EXPECT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "h"})")).text.startsWith(QStringLiteral("Pressed h.")));
    EXPECT_TRUE(until(QStringLiteral("TEXT first h"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
}

TEST_P(GtkFormTyping, TheFieldIsCheckedWhenTheKeysGoAndFollowedWhileTheyGo)
{
    // The focus moves to the password field once the check has answered, while the character flies
    // to the first one, and the bus tells of it.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    checks.clear();
    afterCheck = [this] {
        EXPECT_TRUE(command(QStringLiteral("FOCUS password")));
        EXPECT_TRUE(busTold(checkedElement())) << "the bus never told of the move";
    };
    const ToolResult during = call("type_text", QStringLiteral(R"({"text": "hunter2"})"));
    ASSERT_FALSE(checks.empty());
    // A check that finds no answer in time on a loaded machine stops the keys all the same.
    const QString unanswered = checks.back().field.checked ? QString() : ComputerActions::couldNotCheckField();
    if (!unanswered.isEmpty())
        tookPath("the check that found the move came back without an answer");
    if (checks.front().field.frame) {
        // The check after the flight finds the password field before any key.
        SCOPED_TRACE("the character flew: the check after the flight");
        EXPECT_EQ(during.text.toStdString(),
                  (unanswered.isEmpty() ? ComputerActions::passwordField() : unanswered).toStdString());
    } else {
        // A loaded machine: the check came back without the field's frame, so nothing flew and the
        // gate's look before the first key is what stops it.
        tookPath("no frame, no flight: the gate's look before the first key");
        EXPECT_EQ(during.text.toStdString(),
                  ("I typed 0 of 7 characters, then stopped. The focus moved to another field. "
                   + (unanswered.isEmpty() ? ComputerActions::passwordField() : unanswered))
                      .toStdString());
    }
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});

    // A Return in the first field brings the password step 0.7 s later, long after the check that
    // follows the Return and well before the typing ends.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    const QString rest(300, QLatin1Char('x'));
    checks.clear();
    const ToolResult late = call("type_text", QStringLiteral(R"({"text": "alice\n%1"})").arg(rest));
    // The check after the Return is the first once the six keys went out; a machine slow enough
    // finds the password step there already, and the keys stop at that check instead of a look.
    const auto afterReturn = std::find_if(checks.begin(), checks.end(), [](const Check& each) { return each.posted >= 6; });
    if (afterReturn != checks.end() && afterReturn->field.secure)
        tookPath("the check after the Return already found the password step");
    EXPECT_TRUE(late.text.startsWith(QStringLiteral("I typed "))) << late.text.toStdString();
    const QString moved = QStringLiteral(" The focus moved to another field. ");
    if (!checks.empty() && !checks.back().field.checked && late.text.endsWith(moved + ComputerActions::couldNotCheckField()))
        tookPath("the check that found the move came back without an answer");
    else
        EXPECT_TRUE(late.text.endsWith(moved + ComputerActions::passwordField())) << late.text.toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_TRUE(lines("FOCUS password").size() >= 2) << seen.join('\n').toStdString();
    // What went out before the bus told of the move is said; the rest never goes.
    const QStringList secret = lines("TEXT password ");
    EXPECT_LT(secret.isEmpty() ? 0 : secret.back().size() - 14, rest.size() / 2);
}

TEST_P(GtkFormTyping, NothingIsPostedWhileTheUserHoldsCtrlAndAlt)
{
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    // The user's own hands, on a connection of their own.
    Display* user = XOpenDisplay(nullptr);
    ASSERT_NE(user, nullptr);
    const auto hold = [user](bool down) {
        for (const KeySym modifier : {XK_Control_L, XK_Alt_L})
            XTestFakeKeyEvent(user, XKeysymToKeycode(user, modifier), down ? True : False, CurrentTime);
        XSync(user, False);
    };
    hold(true);
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "tql"})"));
    const ToolResult pressed = call("press_keys", QStringLiteral(R"({"keys": "del"})"));
    hold(false);
    XCloseDisplay(user);
    EXPECT_EQ(typed.text, QStringLiteral("I typed 0 of 3 characters, then stopped. ") + ComputerActions::userHoldsKeys());
    EXPECT_EQ(pressed.text, QStringLiteral("I didn't press del. ") + ComputerActions::userHoldsKeys());
    EXPECT_TRUE(call("type_text", QStringLiteral(R"({"text": "ok"})")).text.startsWith(QStringLiteral("Typed it.")));
    EXPECT_TRUE(until(QStringLiteral("TEXT first ok"))) << seen.join('\n').toStdString();
}

TEST_P(GtkFormTyping, PastATabOnlyATextFieldTakesTheRestOrTheReturn)
{
    const QString button = QStringLiteral("The focus moved to something that isn't a text field.");
    ASSERT_TRUE(command(QStringLiteral("FOCUS last")));
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "x\t y"})")).text,
              QStringLiteral("I typed 2 of 4 characters, then stopped. ") + button);
    ASSERT_TRUE(command(QStringLiteral("FOCUS last")));
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "x\t", "press_return": true})")).text,
              QStringLiteral("Typed it, but didn't press Return. ") + button);
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("CLICKED"), QStringList {});
    // The field got the x and nothing after the tab.
    ASSERT_FALSE(lines("TEXT last").isEmpty());
    EXPECT_EQ(lines("TEXT last").constLast(), QStringLiteral("TEXT last x")) << seen.join('\n').toStdString();
}

// The user's own keyboard, on a connection of its own: keys held down, and modifiers latched or
// locked as sticky keys and Caps Lock leave them. Everything is let go when it ends.
class UsersKeyboard {
public:
    UsersKeyboard() : m_display(XOpenDisplay(nullptr)) {}
    ~UsersKeyboard()
    {
        if (!m_display)
            return;
        hold(XK_Shift_L, false);
        XkbLatchModifiers(m_display, XkbUseCoreKbd, 0xff, 0);
        XkbLockModifiers(m_display, XkbUseCoreKbd, 0xff, 0);
        XSync(m_display, False);
        XCloseDisplay(m_display);
    }
    bool open() const { return m_display != nullptr; }
    void hold(KeySym key, bool down)
    {
        XTestFakeKeyEvent(m_display, XKeysymToKeycode(m_display, key), down ? True : False, CurrentTime);
        XSync(m_display, False);
    }
    void latch(unsigned mask, bool on)
    {
        XkbLatchModifiers(m_display, XkbUseCoreKbd, mask, on ? mask : 0);
        XSync(m_display, False);
    }
    void lock(unsigned mask, bool on)
    {
        XkbLockModifiers(m_display, XkbUseCoreKbd, mask, on ? mask : 0);
        XSync(m_display, False);
    }
    unsigned locked()
    {
        XkbStateRec state {};
        XkbGetState(m_display, XkbUseCoreKbd, &state);
        return state.locked_mods;
    }

private:
    Display* m_display;
};

TEST_P(GtkFormTyping, APasteOrAKeyThatPutsTextInNeverReachesAPasswordField)
{
    ASSERT_TRUE(command(QStringLiteral("CLIP hunter2")));
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    for (const char* keys : {"ctrl+v", "shift+insert", "super+h", "ctrl+shift+u", "ctrl+shift+v"}) {
        SCOPED_TRACE(keys);
        EXPECT_EQ(call("press_keys", QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(keys))).text,
                  ComputerActions::passwordField());
    }
    // Moving on is still allowed.
    EXPECT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "tab"})")).text.startsWith(QStringLiteral("Pressed tab.")));
    EXPECT_TRUE(until(QStringLiteral("FOCUS second"))) << seen.join('\n').toStdString();
    // A paste into a plain field goes in.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    EXPECT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "ctrl+v"})")).text.startsWith(QStringLiteral("Pressed ctrl+v.")));
    EXPECT_TRUE(until(QStringLiteral("TEXT first hunter2"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
}

TEST_P(GtkFormTyping, ModifiersLatchedOrLockedOnAreHeldKeysAndCapsLockTypesAsAsked)
{
    UsersKeyboard user;
    ASSERT_TRUE(user.open());
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    const QString latched = ComputerActions::modifiersLatched();
    for (const bool locking : {false, true}) {
        SCOPED_TRACE(locking ? "locked" : "latched");
        if (locking)
            user.lock(ControlMask | Mod1Mask, true);
        else
            user.latch(ControlMask | Mod1Mask, true);
        EXPECT_EQ(call("press_keys", QStringLiteral(R"({"keys": "del"})")).text,
                  QStringLiteral("I didn't press del. ") + latched);
        EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "tql"})")).text,
                  QStringLiteral("I typed 0 of 3 characters, then stopped. ") + latched);
        if (locking)
            user.lock(ControlMask | Mod1Mask, false);
        else
            user.latch(ControlMask | Mod1Mask, false);
    }
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT first"), QStringList {});

    // With Caps Lock on the field gets the text as written, and Caps Lock stays on.
    user.lock(LockMask, true);
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "Hello World 1"})")).text, QStringLiteral("Typed it."));
    EXPECT_TRUE(until(QStringLiteral("TEXT first Hello World 1"))) << seen.join('\n').toStdString();
    EXPECT_EQ(lines("TEXT first").constLast(), QStringLiteral("TEXT first Hello World 1"));
    EXPECT_TRUE(user.locked() & LockMask);
}

TEST_P(GtkFormTyping, AFocusMovedWhileTheUserHoldsShiftGetsNoKey)
{
    UsersKeyboard user;
    ASSERT_TRUE(user.open());
    // The user rests a finger on Shift just before the keys go, and the page moves the focus to
    // the password field meanwhile.
    // Shift comes up once the bus has told this process of the move. A bus slower than the gate's
    // wait for the user's hands ends the keys there instead, which the answer then says.
    bool released = false;
    bool told = false;
    const auto moveWhileHeld = [this, &user, &released, &told](const char* to) {
        released = false;
        user.hold(XK_Shift_L, true);
        form.write(QByteArray("FOCUS ") + to + '\n');
        QTimer::singleShot(0, &form, [this, &user, &released, &told, element = checkedElement()] {
            told = busTold(element);
            user.hold(XK_Shift_L, false);
            released = true;
        });
    };
    const auto expectAnswer = [&](const ToolResult& result, const QString& done, const QString& moved) {
        ASSERT_TRUE(waitUntil([&] { return released; }, std::chrono::seconds(30)));
        EXPECT_TRUE(told) << "the bus never told of the move";
        if (result.text == done + QLatin1Char(' ') + ComputerActions::userHoldsKeys())
            tookPath("the bus told of the move after the gate stopped waiting for Shift");
        else
            EXPECT_EQ(result.text.toStdString(), (done + QLatin1Char(' ') + moved).toStdString());
    };
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    // As the first key comes to the gate, whether the character flew or not.
    atKey([&] { moveWhileHeld("password"); });
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "abc"})"));
    expectAnswer(typed, QStringLiteral("I typed 0 of 3 characters, then stopped."),
                 QStringLiteral("The focus moved to another field. ") + ComputerActions::passwordField());

    // The Return after a text, with the focus moved to "Delete all" as the Return comes to the gate.
    ASSERT_TRUE(command(QStringLiteral("FOCUS last")));
    atKey([&] { moveWhileHeld("delete"); }, 0, XK_Return);
    const ToolResult entered = call("type_text", QStringLiteral(R"({"text": "x", "press_return": true})"));
    expectAnswer(entered, QStringLiteral("Typed it, but didn't press Return."),
                 QStringLiteral("The focus moved to something that isn't a text field."));
    EXPECT_TRUE(until(QStringLiteral("TEXT last x"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
    EXPECT_EQ(lines("CLICKED"), QStringList {});
}

TEST_P(GtkFormTyping, AFieldThatTurnsIntoAPasswordFieldGetsNoMoreKeys)
{
    const QString turned = QStringLiteral(" The field turned into a password field. ") + ComputerActions::passwordField();
    // What the field took after it turned.
    const auto secret = [this] {
        const qsizetype at = seen.indexOf(QStringLiteral("SECRET first"));
        qsizetype longest = 0;
        for (qsizetype i = at + 1; at >= 0 && i < seen.size(); ++i)
            if (seen[i].startsWith(QLatin1String("TEXT first ")))
                longest = std::max(longest, seen[i].size() - 11);
        return longest;
    };
    const QString rest(40, QLatin1Char('x'));

    // Three keys into the typing, told by the bus before the fourth key's look.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    atKey(
        [&] {
            EXPECT_TRUE(command(QStringLiteral("TURN first 0")));
            EXPECT_TRUE(until(QStringLiteral("SECRET first"))) << seen.join('\n').toStdString();
            EXPECT_TRUE(busTold(checkedElement())) << "the bus never told of the turn";
        },
        3);
    const ToolResult during = call("type_text", QStringLiteral(R"({"text": "%1"})").arg(rest));
    EXPECT_EQ(during.text.toStdString(), ("I typed 3 of 40 characters, then stopped." + turned).toStdString());
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(secret(), 0) << seen.join('\n').toStdString();
}

TEST_P(GtkFormTyping, ASignInThatAsksForThePasswordInTheSameFieldGetsNone)
{
    ASSERT_TRUE(command(QStringLiteral("TURNONRETURN first 200")));
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    const QString rest(40, QLatin1Char('x'));
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "alice\n%1"})").arg(rest));
    EXPECT_TRUE(typed.text.endsWith(QStringLiteral(" The field turned into a password field. ")
                                    + ComputerActions::passwordField()))
        << typed.text.toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    const qsizetype at = seen.indexOf(QStringLiteral("SECRET first"));
    ASSERT_GE(at, 0) << seen.join('\n').toStdString();
    const QStringList after = seen.mid(at + 1).filter(QRegularExpression(QStringLiteral("^TEXT first ")));
    const qsizetype landed = after.isEmpty() ? 0 : after.constLast().size() - 11;
    EXPECT_LE(landed, 2) << seen.join('\n').toStdString();
    // A key on its way when the field turned, and landed in it, is said.
    if (landed > 0) {
        EXPECT_TRUE(typed.text.contains(ComputerActions::mayHaveGoneIntoIt())) << typed.text.toStdString();
    }
}

TEST_P(GtkFormTyping, AFocusThatFlickersAwayAndBackStopsTheTyping)
{
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    ASSERT_TRUE(command(QStringLiteral("FLICKER password 100 5")));
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "%1"})").arg(QString(30, QLatin1Char('y'))));
    EXPECT_FALSE(typed.text.startsWith(QStringLiteral("Typed it"))) << typed.text.toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    // At most the one key that went out before the bus told of the flicker.
    const QStringList secret = lines("TEXT password ");
    EXPECT_LE(secret.isEmpty() ? 0 : secret.constLast().size() - 14, 1) << seen.join('\n').toStdString();
}

// On a loaded desktop the bus tells of the focus late: the user moves it while the character flies
// to the field, and the bus carries the news only once the check that the keys go by has begun.
// Nothing the form told before that check is a move after it: the text goes whole where the focus
// is, and never into a password field.
TEST_P(GtkFormTyping, AFocusMovedJustBeforeTheKeysIsWhereTheTextGoes)
{
    LateBus late;
    ASSERT_TRUE(late.found()) << "the accessibility bus's daemon was not found";
    const struct {
        std::vector<const char*> moves;
        const char* text;
    } cases[] = {
        {{"last"}, "to the last field"},
        {{"chat", "first"}, "away and back"},
        {{"password"}, "never a password"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
        const size_t before = checks.size();
        afterCheck = [&] {
            late.hold();
            for (const char* field : c.moves)
                EXPECT_TRUE(command(QStringLiteral("FOCUS ") + QLatin1String(field)));
        };
        beforeCheck = [&late, this, before] {
            if (checks.size() == before + 1)
                QTimer::singleShot(100, [&late] { late.release(); });
        };
        const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "%1"})").arg(QLatin1String(c.text)));
        beforeCheck = {};
        afterCheck = {};
        late.release();
        ASSERT_GE(checks.size(), before + 2) << "the character did not fly to the field";
        ASSERT_TRUE(command(QStringLiteral("PING")));
        const QString into = QLatin1String(c.moves.back());
        const QStringList took = lines(qPrintable(QStringLiteral("TEXT ") + into + QLatin1Char(' ')));
        if (into == QLatin1String("password")) {
            EXPECT_EQ(typed.text, ComputerActions::passwordField());
            EXPECT_EQ(took, QStringList {});
        } else {
            EXPECT_EQ(typed.text.toStdString(), "Typed it.");
            ASSERT_FALSE(took.isEmpty()) << seen.join('\n').toStdString();
            // The field given the focus selects what it holds: the text takes its place.
            EXPECT_EQ(took.constLast().toStdString(), ("TEXT " + into + ' ' + QLatin1String(c.text)).toStdString());
        }
    }
}

TEST_P(GtkFormTyping, TypesIntoAPlainFieldWhileEveryCoreIsBusy)
{
    // The check as the program makes it, asked once per call, with no second try.
    ComputerActions real(pointing, desktopPorts(control, screen));
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));

    QString expected;
    QStringList refused;
    int typed = 0;
    {
        const BusyCores busy;
        for (int i = 0; i < 20; ++i) {
            const QString word = QStringLiteral("w%1").arg(i);
            const ToolResult result = runTask(
                real.handle(QStringLiteral("type_text"), toolargs::parse(QStringLiteral(R"({"text": "%1"})").arg(word)), {}),
                std::chrono::seconds(120));
            if (result.text != QLatin1String("Typed it.")) {
                refused << result.text;
                continue;
            }
            expected += word;
            if (until(QStringLiteral("TEXT first ") + expected, std::chrono::seconds(30)))
                ++typed;
            else
                refused << QStringLiteral("answered \"Typed it.\" but the field never held ") + expected;
        }
    }
    EXPECT_EQ(typed, 20) << refused.join('\n').toStdString();
}

TEST_P(GtkFormTyping, AFieldOnceSeenAsAPasswordFieldStaysOneWhenItIsShown)
{
    const QStringList ids = idsOf({"Password field", "Show password"});
    ASSERT_EQ(ids.size(), 2) << "the password field and its toggle were never listed in one look";
    EXPECT_EQ(listed("Password field")->kind, QStringLiteral("password"));
    const ToolResult shown = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(ids[1]));
    EXPECT_TRUE(shown.text.startsWith(QStringLiteral("Clicked \"Show password\"."))) << shown.text.toStdString();
    ASSERT_TRUE(until(QStringLiteral("SHOWN"))) << seen.join('\n').toStdString();
    ASSERT_FALSE(idOf("Password field").isEmpty());
    EXPECT_EQ(listed("Password field")->kind, QStringLiteral("password"));

    ASSERT_TRUE(command(QStringLiteral("CLIP hunter2")));
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "hunter2"})")).text, ComputerActions::passwordField());
    EXPECT_EQ(call("press_keys", QStringLiteral(R"({"keys": "ctrl+v"})")).text, ComputerActions::passwordField());
}

// The assistant's pointer on the form: what a menu's Paste or a drop would put into a password
// field never gets there, and clicks, context menus and drops elsewhere still work.
class GtkFormPointer : public GtkFormOnDisplay {
protected:
    // Types a word into the first field and selects it, as the model does before it copies or drags.
    void selectWordInFirstField()
    {
        ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
        ASSERT_EQ(call("type_text", QStringLiteral(R"({"text": "hunter2"})")).text, QStringLiteral("Typed it."));
        ASSERT_TRUE(until(QStringLiteral("TEXT first hunter2"))) << seen.join('\n').toStdString();
        ASSERT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "ctrl+a"})")).text.startsWith(QStringLiteral("Pressed ")));
    }
};

TEST_P(GtkFormPointer, NoContextMenuOnAPasswordFieldAndNoEntryPickedFromOne)
{
    selectWordInFirstField();
    ASSERT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "ctrl+c"})")).text.startsWith(QStringLiteral("Pressed ")));
    const QString refused = ComputerActions::clickInPasswordFieldMenu();

    // On the password field, and on another field while the password field has the focus.
    const QStringList fields = idsOf({"Password field", "First field"});
    ASSERT_EQ(fields.size(), 2);
    EXPECT_EQ(call("click", QStringLiteral(R"({"target_id": "%1", "right": true})").arg(fields[0])).text, refused);
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    EXPECT_EQ(call("click", QStringLiteral(R"({"target_id": "%1", "right": true})").arg(fields[1])).text, refused);
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("MENU"), QStringList {});

    // The user opens the password field's menu: the look lists its Paste, which is not picked.
    ASSERT_TRUE(listed("Password field"));
    userClick(listed("Password field")->rect.center(), 3);
    ASSERT_TRUE(until(QStringLiteral("MENU password shown"))) << seen.join('\n').toStdString();
    const QString paste = idOf("Paste");
    ASSERT_FALSE(paste.isEmpty()) << "the menu's Paste was never listed";
    EXPECT_EQ(call("click", QStringLiteral(R"({"target_id": "%1"})").arg(paste)).text, refused);
    // Nor by a typed letter (its mnemonic) or line break, nor is a typed letter said to be typed.
    for (const char* text : {"p", "\\n", "P"})
        EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "%1"})").arg(QLatin1String(text))).text,
                  ComputerActions::passwordField())
            << text;
    EXPECT_TRUE(call("press_keys", QStringLiteral(R"({"keys": "escape"})")).text.startsWith(QStringLiteral("Pressed ")));
    EXPECT_TRUE(until(QStringLiteral("MENU password hidden"))) << seen.join('\n').toStdString();

    // A plain field's menu is opened and its Paste picked.
    ASSERT_TRUE(command(QStringLiteral("FOCUS last")));
    const ToolResult opened = call("click", QStringLiteral(R"({"target_id": "%1", "right": true})").arg(idOf("Last field")));
    EXPECT_TRUE(opened.text.startsWith(QStringLiteral("Right-clicked \"Last field\".\n"))) << opened.text.toStdString();
    ASSERT_TRUE(until(QStringLiteral("MENU last shown"))) << seen.join('\n').toStdString();
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "p"})")).text, ComputerActions::menuOpen());
    const QString plainPaste = idOf("Paste");
    ASSERT_FALSE(plainPaste.isEmpty()) << "the menu's Paste was never listed";
    const ToolResult pasted = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(plainPaste));
    EXPECT_TRUE(pasted.text.startsWith(QStringLiteral("Clicked \"Paste\".\n"))) << pasted.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("TEXT last hunter2"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
}

TEST_P(GtkFormTyping, AKeyOnItsWayWhenTheFocusMovesIsNotCountedAsTyped)
{
    // The key after the fifth character finds the focus moved to the password field and goes there.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    ASSERT_TRUE(command(QStringLiteral("TAKEFOCUS first 5 password")));
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "abcdefghijklmnopqrstuvwxyz"})"));
    ASSERT_TRUE(command(QStringLiteral("PING")));
    const QRegularExpressionMatch count =
        QRegularExpression(QStringLiteral("^I typed (\\d+) of 26 characters, then stopped\\. ")).match(typed.text);
    ASSERT_TRUE(count.hasMatch()) << typed.text.toStdString();
    const QStringList first = lines("TEXT first ");
    EXPECT_EQ(count.captured(1).toInt(), first.isEmpty() ? 0 : first.constLast().size() - 11)
        << typed.text.toStdString() << "\n" << seen.join('\n').toStdString();
    // One key at most went where the focus moved, and the answer says it may have.
    const QStringList secret = lines("TEXT password ");
    EXPECT_EQ(secret.isEmpty() ? 0 : secret.constLast().size() - 14, 1) << seen.join('\n').toStdString();
    EXPECT_TRUE(typed.text.contains(ComputerActions::mayHaveGoneElsewhere())) << typed.text.toStdString();
    EXPECT_TRUE(typed.text.endsWith(ComputerActions::passwordField())) << typed.text.toStdString();
}

TEST_P(GtkFormTyping, AFieldThatTurnsReadOnlyAfterAReturnIsSaidToStopTakingText)
{
    // Read-only at once, found by the check after the Return; and a moment later, told by the bus
    // while the keys go.
    for (const int after : {0, 300}) {
        SCOPED_TRACE(after);
        ASSERT_TRUE(command(QStringLiteral("FOCUS chat")));
        ASSERT_TRUE(command(QStringLiteral("READONLYONRETURN %1").arg(after)));
        const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "hi\n%1"})").arg(QString(40, QLatin1Char('x'))));
        EXPECT_TRUE(typed.text.startsWith(QStringLiteral("I typed "))) << typed.text.toStdString();
        EXPECT_TRUE(typed.text.endsWith(QStringLiteral(" The field stopped taking text."))) << typed.text.toStdString();
        EXPECT_TRUE(until(QStringLiteral("READONLY chat"))) << seen.join('\n').toStdString();
    }
}

TEST_P(GtkFormPointer, NothingIsDroppedOntoAPasswordField)
{
    selectWordInFirstField();
    const QStringList ids = idsOf({"First field", "Password field", "Last field"});
    ASSERT_EQ(ids.size(), 3);
    // From the selected word, near the field's left end.
    const QRectF first = listed("First field")->rect;
    const QSizeF size = pointing->screenSize();
    const QString from = QStringLiteral(R"("from_x": %1, "from_y": %2)")
                             .arg((first.left() + 30) * 1000 / size.width())
                             .arg(first.center().y() * 1000 / size.height());
    // A form too starved to tell what lies at the drop point in time has the drop refused too.
    const QString refused = call("drag", QStringLiteral(R"({%1, "to_id": "%2"})").arg(from, ids[1])).text;
    EXPECT_TRUE(refused == ComputerActions::passwordField() || refused == ComputerActions::couldNotCheckDrop())
        << refused.toStdString();
    const ToolResult dropped = call("drag", QStringLiteral(R"({%1, "to_id": "%2"})").arg(from, ids[2]));
    EXPECT_TRUE(dropped.text.startsWith(QStringLiteral("Dragged it.\n"))) << dropped.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("TEXT last hunter2"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
}

TEST_P(GtkFormPointer, NoClickLeavesTheFocusInAPasswordFieldForAButtonToPasteInto)
{
    ASSERT_TRUE(command(QStringLiteral("CLIP hunter2")));
    // From a plain field the toolbar's button pastes into it.
    ASSERT_TRUE(command(QStringLiteral("FOCUS first")));
    const ToolResult pasted = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Paste into field")));
    EXPECT_TRUE(pasted.text.startsWith(QStringLiteral("Clicked \"Paste into field\".\n"))) << pasted.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("TEXT first hunter2"))) << seen.join('\n').toStdString();

    // With the password field focused it would paste there.
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    EXPECT_EQ(call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Paste into field"))).text,
              ComputerActions::clickStaysInPasswordField());
    // A button that would keep the focus off itself on click is given it first.
    const ToolResult given = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Paste here")));
    EXPECT_TRUE(given.text.startsWith(QStringLiteral("Clicked \"Paste here\".\n"))) << given.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("CLICKED pastehere"))) << seen.join('\n').toStdString();
    // What takes the focus still takes the click.
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    const ToolResult moved = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Last field")));
    EXPECT_TRUE(moved.text.startsWith(QStringLiteral("Clicked \"Last field\".\n"))) << moved.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("FOCUS last"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("FOCUS password")));
    const ToolResult deleted = call("click", QStringLiteral(R"({"target_id": "%1"})").arg(idOf("Delete all")));
    EXPECT_TRUE(deleted.text.startsWith(QStringLiteral("Clicked \"Delete all\".\n"))) << deleted.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("CLICKED delete"))) << seen.join('\n').toStdString();
    ASSERT_TRUE(command(QStringLiteral("PING")));
    EXPECT_EQ(lines("TEXT password"), QStringList {});
}

// No spaces: the form's lines are read trimmed.
const QString kSixtyThree = QStringLiteral("the-quick-brown-fox-jumps-over-the-lazy-dog-and-naps-in-the-sun");

// The form ends while the keys go, with a window off the accessibility bus taking the keyboard
// focus, and with none: the keys stop there. At most the one key on its way reaches that window,
// and the answer counts only what the field told it took, and says what happened.
void expectStoppedWhereTheFormEnded(const ToolResult& typed, const QStringList& told, const QString& why)
{
    const QRegularExpressionMatch count =
        QRegularExpression(QStringLiteral("^I typed (\\d+) of 63 characters, then stopped\\. ")).match(typed.text);
    ASSERT_TRUE(count.hasMatch()) << typed.text.toStdString();
    const qsizetype landed = told.isEmpty() ? 0 : told.constLast().size() - 11;
    EXPECT_GT(landed, 0);
    // A key the form took but did not tell of before it ended did not surely land.
    EXPECT_LE(count.captured(1).toInt(), landed) << typed.text.toStdString() << "\n" << told.join('\n').toStdString();
    EXPECT_GE(count.captured(1).toInt(), landed - 1) << typed.text.toStdString() << "\n" << told.join('\n').toStdString();
    EXPECT_TRUE(typed.text.contains(why)) << typed.text.toStdString();
}

TEST_P(GtkFormTyping, NoMoreKeysGoOnceTheFormEndsAndAWindowOffTheBusTakesTheFocus)
{
    BareWindow other;
    ASSERT_NE(other.id(), 0u);
    const ToolResult typed = typeWhileTheFormEnds(kSixtyThree, &other);
    expectStoppedWhereTheFormEnded(typed, lines("TEXT first "), ComputerActions::focusInUncheckedWindow());
    const int reached = other.keys();
    EXPECT_LE(reached, 1) << typed.text.toStdString();
    if (reached == 1) {
        EXPECT_TRUE(typed.text.contains(ComputerActions::mayHaveGoneElsewhere())) << typed.text.toStdString();
    }
}

TEST_P(GtkFormTyping, NoMoreKeysGoOnceTheFormEnds)
{
    const ToolResult typed = typeWhileTheFormEnds(kSixtyThree, nullptr);
    expectStoppedWhereTheFormEnded(typed, lines("TEXT first "), ComputerActions::fieldWentAway());
}

INSTANTIATE_TEST_SUITE_P(Scales, GtkFormPointer, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& scale) { return "Scale" + std::to_string(scale.param); });

INSTANTIATE_TEST_SUITE_P(Scale, GtkFormTyping, ::testing::Values(1),
                         [](const ::testing::TestParamInfo<int>& scale) { return "Scale" + std::to_string(scale.param); });

INSTANTIATE_TEST_SUITE_P(Scales, GtkFormOnDisplay, ::testing::Values(1, 2),
                         [](const ::testing::TestParamInfo<int>& scale) { return "Scale" + std::to_string(scale.param); });

} // namespace
