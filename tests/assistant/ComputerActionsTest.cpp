#include <gtest/gtest.h>

#include <QSet>

#include <deque>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/ScreenReader.h"
#include "assistant/PointingFakes.h"
#include "shared/util/Text.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// Input that only writes down what it was asked to post, and when.
struct RecordingInput : SyntheticInput {
    std::function<double()> clock;
    std::function<QPointF()> character;
    QStringList events;
    std::vector<double> times;
    // Where the character's tip was at each event.
    std::vector<QPointF> tips;
    QPointF at {1500, 900};
    bool xtest = true;
    // Keys that cannot be sent.
    std::vector<unsigned long> failing;
    // Runs after each event is written down (the user acting meanwhile).
    std::function<void()> afterEvent;

    void note(const QString& event)
    {
        events << event;
        times.push_back(clock());
        tips.push_back(character());
        if (afterEvent)
            afterEvent();
    }
    static QString point(QPointF p) { return QStringLiteral("%1,%2").arg(qRound(p.x())).arg(qRound(p.y())); }

    bool available() override { return xtest; }
    std::optional<QPointF> pointer() override { return at; }
    void warp(QPointF p) override
    {
        at = p;
        note(QStringLiteral("warp ") + point(p));
    }
    void move(QPointF p) override
    {
        at = p;
        note(QStringLiteral("move ") + point(p));
    }
    void button(Button b, bool down) override
    {
        note(QStringLiteral("%1 %2").arg(b == Button::right ? QStringLiteral("right") : QStringLiteral("left"),
                                          down ? QStringLiteral("down") : QStringLiteral("up")));
    }
    void wheel(int dx, int dy) override { note(QStringLiteral("wheel %1 %2").arg(dx).arg(dy)); }
    Post key(unsigned long keysym, unsigned held) override
    {
        if (std::find(failing.begin(), failing.end(), keysym) != failing.end())
            return Post::failed;
        if (modifiers() != Modifiers::free)
            return Post::notNow;
        const char* name = XKeysymToString(keysym);
        QString event = QStringLiteral("key ") + QString::fromLatin1(name ? name : "?");
        if (held)
            event += QStringLiteral(" held %1").arg(held);
        note(event);
        return Post::posted;
    }
    // What the keyboard looks like: the next looks, one each, then `state`.
    std::deque<Modifiers> looks;
    Modifiers state = Modifiers::free;
    Modifiers modifiers() override
    {
        if (looks.empty())
            return state;
        const Modifiers now = looks.front();
        looks.pop_front();
        return now;
    }
    std::chrono::milliseconds keyDelay(unsigned long) override { return std::chrono::milliseconds(0); }
    int doubleClickMilliseconds() override { return 400; }
};

struct FakeScreen : SnapshotSource {
    int reads = 0;
    QCoro::Task<ScreenSnapshot> snapshot() override
    {
        ++reads;
        ScreenSnapshot reading;
        reading.size = QSizeF(1000, 800);
        reading.jpeg = QByteArray("after");
        reading.lines = {TextLine {Target {QStringLiteral("L1"), QStringLiteral("Save draft"), QRectF(100, 100, 200, 40)}, {}},
                         TextLine {Target {QStringLiteral("L2"), QStringLiteral("Inbox"), QRectF(600, 500, 100, 20)}, {}}};
        co_return reading;
    }
};

const QString kNowMarker = QStringLiteral("\nHere's the screen now (ids have changed):\n");

class ComputerActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        actions.reset();
        control.reset();
        w = std::make_unique<PointingWorld>();
        input = std::make_shared<RecordingInput>();
        screen = std::make_shared<FakeScreen>();
        enabled = true;
        bus = true;
        field = ControlsReader::FocusedField {QRectF(300, 200, 400, 30), false, true, true, QStringLiteral(":1.5:/f/1")};
        opened.clear();
        follows.clear();
        sentBeforeLook.clear();
        afterFollow = {};
        nextFields.clear();
        fieldChecks = 0;
        gate.reset();
        input->clock = [this] { return world().time.now; };
        input->character = [this] { return world().engine().tip(); };
        ComputerControl::Ports controlPorts;
        controlPorts.input = input;
        controlPorts.sleep = [this](std::chrono::milliseconds duration, CancelToken) {
            world().pass(duration.count() / 1000.0);
            return PointingWorld::finished();
        };
        controlPorts.accessibilityBus = [this] { return bus; };
        controlPorts.openApp = [](QString name) -> QCoro::Task<QString> {
            co_return QStringLiteral("Switched to ") + name + QLatin1Char('.');
        };
        controlPorts.openUrl = [this](const QUrl& url) {
            opened << url.toString();
            return true;
        };
        control = std::make_unique<ComputerControl>(std::move(controlPorts));
        ComputerActions::Ports ports;
        ports.screen = screen;
        ports.control = control.get();
        ports.enabled = [this] { return enabled; };
        ports.focusedField = [this]() -> QCoro::Task<ControlsReader::FocusedField> {
            ++fieldChecks;
            if (gate) {
                auto held = cancellableSleep(std::chrono::hours(1), *gate);
                co_await std::move(held);
            }
            if (!nextFields.empty()) {
                field = nextFields.front();
                nextFields.pop_front();
            }
            co_return field;
        };
        ports.focusStaysOn = [this](QString, bool keySent) -> QCoro::Task<ControlsReader::Following> {
            sentBeforeLook.push_back(keySent);
            if (follows.empty())
                co_return ControlsReader::Following {};
            const ControlsReader::Following follow = follows.front();
            follows.pop_front();
            if (afterFollow)
                afterFollow();
            co_return follow;
        };
        pointed = ControlsReader::Pointed {true, false, false, QStringLiteral(":1.5:/p/1")};
        pointedAt.clear();
        pointedNext.clear();
        ports.elementAt = [this](QPointF point) -> QCoro::Task<ControlsReader::Pointed> {
            pointedAt << point;
            if (!pointedNext.empty()) {
                const ControlsReader::Pointed next = pointedNext.front();
                pointedNext.pop_front();
                co_return next;
            }
            co_return pointed;
        };
        focusTaken = ControlsReader::FocusedField {QRectF(300, 200, 400, 30), false, true, true, QStringLiteral(":1.5:/p/1")};
        focusGivenAt.clear();
        ports.focusAt = [this](QPointF point) -> QCoro::Task<bool> {
            focusGivenAt << point;
            if (!focusTaken)
                co_return false;
            field = *focusTaken;
            co_return true;
        };
        heldThere.reset();
        typedThere.reset();
        ports.textHeld = [this](QString) -> QCoro::Task<std::optional<ControlsReader::Held>> { co_return heldThere; };
        ports.textTyped = [this](QString, ControlsReader::Held) -> QCoro::Task<std::optional<QString>> {
            co_return typedThere;
        };
        actions = std::make_unique<ComputerActions>(world().pointing, std::move(ports));
        // The last reading the model saw.
        world().pointing->screenContext(runTask(screen->snapshot()), std::nullopt);
        screen->reads = 0;
    }

    ToolResult call(const char* name, const char* arguments = "{}")
    {
        return runTask(actions->handle(QString::fromLatin1(name), toolargs::parse(QString::fromUtf8(arguments)), {}));
    }

    PointingWorld& world() { return *w; }

    std::unique_ptr<PointingWorld> w;
    std::shared_ptr<RecordingInput> input;
    std::shared_ptr<FakeScreen> screen;
    std::unique_ptr<ComputerControl> control;
    std::unique_ptr<ComputerActions> actions;
    bool enabled = true;
    bool bus = true;
    ControlsReader::FocusedField field;
    // The fields the checks find next, one per check; then `field` stays.
    std::deque<ControlsReader::FocusedField> nextFields;
    int fieldChecks = 0;
    // What following the focus tells, one per look before a key; then it stays.
    std::deque<ControlsReader::Following> follows;
    // Whether each look was told that a key went out since the one before.
    std::vector<bool> sentBeforeLook;
    // Runs after each of those looks (the user acting between the look and the post).
    std::function<void()> afterFollow;
    // A field check waits until this fires.
    std::optional<CancelToken> gate;
    QStringList opened;
    // What lies under every point asked about, and the points asked about.
    ControlsReader::Pointed pointed;
    QList<QPointF> pointedAt;
    // What the points asked about next lie on, one per point; then `pointed`.
    std::deque<ControlsReader::Pointed> pointedNext;
    // What the field tells it holds where the keys go, and later where they went.
    std::optional<ControlsReader::Held> heldThere;
    std::optional<QString> typedThere;
    // The field that has the focus once a point is given it; none: nothing there takes it.
    std::optional<ControlsReader::FocusedField> focusTaken;
    QList<QPointF> focusGivenAt;
};

const ControlsReader::FocusedField kPlainField {QRectF(300, 200, 400, 30), false, true, true, QStringLiteral(":1.5:/f/1")};
const ControlsReader::FocusedField kSecretField {QRectF(300, 240, 400, 30), true, true, false, QStringLiteral(":1.5:/f/2")};
const ControlsReader::FocusedField kUnknownField {std::nullopt, false, false, false, {}};

TEST_F(ComputerActionsTest, TheGuardDecidesInItsOrderAndARefusalLeavesThePointingAlone)
{
    const QString off = QStringLiteral("The user has turned off computer control in the status menu or with Ctrl+Alt+C. You can still look and point.");
    const QString stopped = QStringLiteral("The user pressed stop. Don't do anything else until they ask again.");
    const QString noXTest = QStringLiteral(
        "I need the X server's XTest extension to click and type. The user has to start Tovrick in an X11 session "
        "whose X server has XTest turned on.");
    const QString noBus = QStringLiteral(
        "I need the accessibility bus to click and type. The user has to install at-spi2-core and start its "
        "at-spi-bus-launcher.");
    const QString neither = QStringLiteral(
        "I need the X server's XTest extension and the accessibility bus to click and type. The user has to start "
        "Tovrick in an X11 session whose X server has XTest turned on, and install at-spi2-core and start its "
        "at-spi-bus-launcher.");
    const struct {
        bool enabled;
        bool stop;
        bool xtest;
        bool bus;
        QString expected;
    } cases[] = {
        {false, true, false, false, off},  {true, true, false, false, stopped},
        {true, false, false, true, noXTest}, {true, false, true, false, noBus},
        {true, false, false, false, neither},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected.toStdString());
        SetUp();
        enabled = c.enabled;
        input->xtest = c.xtest;
        bus = c.bus;
        if (c.stop)
            world().pointing->stop();
        world().pointing->pointAt(HostPointing::Spot {QPointF(50, 50), QRectF(40, 40, 20, 20)});
        world().pointing->pointAt(HostPointing::Spot {QPointF(80, 80), QRectF(70, 70, 20, 20)});
        const double hold = world().pointing->holdUntil();
        const ToolResult result = call("click", R"({"x": 500, "y": 500})");
        EXPECT_EQ(result.text, c.expected);
        EXPECT_FALSE(result.image);
        EXPECT_TRUE(input->events.isEmpty());
        EXPECT_EQ(world().pointing->queue().size(), 1u);
        EXPECT_EQ(world().pointing->holdUntil(), hold);
        EXPECT_EQ(screen->reads, 0);
    }
}

TEST_F(ComputerActionsTest, TheStopBlocksForSixSecondsThenActionsRunAgain)
{
    world().pointing->stop();
    world().time.advance(5.9);
    EXPECT_EQ(call("press_keys", R"({"keys": "tab"})").text,
              QStringLiteral("The user pressed stop. Don't do anything else until they ask again."));
    world().time.advance(0.2);
    EXPECT_TRUE(call("press_keys", R"({"keys": "tab"})").text.startsWith(QStringLiteral("Pressed tab.") + kNowMarker));
}

TEST_F(ComputerActionsTest, AClickFliesThereClicksAndPutsThePointerBack)
{
    const struct {
        const char* arguments;
        QPointF at;
        QStringList buttons;
        QString sentence;
    } cases[] = {
        {R"({"target_id": " l1 "})", QPointF(200, 120), {"left down", "left up"}, "Clicked \"Save draft\"."},
        {R"({"target_id": "L9", "x": 500, "y": 250})", QPointF(500, 200), {"left down", "left up"}, "Clicked there."},
        {R"({"x": "500", "y": 250, "double": true})", QPointF(500, 200),
         {"left down", "left up", "left down", "left up"}, "Double-clicked there."},
        {R"({"x": 500, "y": 250, "right": true, "double": true})", QPointF(500, 200),
         {"right down", "right up", "right down", "right up"}, "Right-clicked there."},
        {R"({"x": -5, "y": 2000, "double": "yes"})", QPointF(0, 800), {"left down", "left up"}, "Clicked there."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        SetUp();
        const ToolResult result = call("click", c.arguments);
        EXPECT_TRUE(result.text.startsWith(c.sentence + kNowMarker)) << result.text.toStdString();
        EXPECT_EQ(result.image, QStringLiteral("YWZ0ZXI="));
        const QStringList expected = QStringList {QStringLiteral("move ") + RecordingInput::point(c.at)} + c.buttons
            + QStringList {QStringLiteral("warp 1500,900")};
        EXPECT_EQ(input->events, expected);
        // The character had landed on the spot before anything was pressed.
        EXPECT_EQ(input->tips.front(), c.at);
        EXPECT_EQ(input->at, QPointF(1500, 900));
        EXPECT_EQ(screen->reads, 1);
        // The closing step: the character lingers where it acted.
        EXPECT_NEAR(world().pointing->holdUntil(), world().time.now + 1.5, 1e-9);
        EXPECT_TRUE(world().pointing->timerRunning());
    }
    SetUp();
    EXPECT_EQ(call("click", R"({"target_id": "L9"})").text,
              QStringLiteral("Tell me what to click: a target id from look_at_screen, or x and y."));
    EXPECT_TRUE(input->events.isEmpty());
}

TEST_F(ComputerActionsTest, ScrollAmountsBecomeWheelClicksAndTheWordGivenIsRepeated)
{
    const struct {
        const char* arguments;
        const char* wheel;
        const char* sentence;
        QPointF at;
    } cases[] = {
        {R"({"amount": 0.5})", "wheel 0 1", "Scrolled down.", QPointF(500, 400)},
        {R"({"amount": 3, "direction": "UP"})", "wheel 0 -3", "Scrolled up.", QPointF(500, 400)},
        {R"({"amount": 25, "direction": "left", "target_id": "L2"})", "wheel -10 0", "Scrolled left.", QPointF(650, 510)},
        {R"({"direction": "sideways", "x": 100, "y": 100})", "wheel 0 3", "Scrolled sideways.", QPointF(100, 80)},
        {R"({"direction": "right", "amount": "2"})", "wheel 2 0", "Scrolled right.", QPointF(500, 400)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments);
        SetUp();
        const ToolResult result = call("scroll", c.arguments);
        EXPECT_TRUE(result.text.startsWith(QString::fromUtf8(c.sentence) + kNowMarker)) << result.text.toStdString();
        EXPECT_EQ(input->events, (QStringList {QStringLiteral("move ") + RecordingInput::point(c.at),
                                               QString::fromLatin1(c.wheel), QStringLiteral("warp 1500,900")}));
    }
}

TEST_F(ComputerActionsTest, ADragCarriesTheItemAlongTheFlightAndLetsGoAtTheEnd)
{
    EXPECT_EQ(call("drag", R"({"from_id": "L1", "to_x": 500})").text,
              QStringLiteral("Tell me where to drag from and to (ids or x and y)."));
    EXPECT_TRUE(input->events.isEmpty());

    const ToolResult result = call("drag", R"({"from_id": "L1", "to_x": 800, "to_y": 750})");
    EXPECT_TRUE(result.text.startsWith(QStringLiteral("Dragged it.") + kNowMarker));
    const QStringList& events = input->events;
    ASSERT_GE(events.size(), 8);
    EXPECT_EQ(events.mid(0, 2), (QStringList {QStringLiteral("move 200,120"), QStringLiteral("left down")}));
    EXPECT_EQ(events.mid(events.size() - 3),
              (QStringList {QStringLiteral("move 800,600"), QStringLiteral("left up"), QStringLiteral("warp 1500,900")}));
    // In between: the character's tip, frame by frame, a curve rather than a jump.
    const QStringList between = events.mid(2, events.size() - 5);
    EXPECT_GE(between.size(), 5);
    EXPECT_EQ(between.filter(QStringLiteral("move ")).size(), between.size());
    EXPECT_EQ(QSet<QString>(between.begin(), between.end()).size(), between.size());
    EXPECT_FALSE(world().engine().dragging());
}

ControlsReader::FocusedField inMenu(ControlsReader::FocusedField::Opener opener)
{
    ControlsReader::FocusedField menu {QRectF(320, 260, 120, 160), false, true, false, QStringLiteral(":1.5:/m/1")};
    menu.menuOpener = opener;
    return menu;
}

TEST_F(ComputerActionsTest, NoMenuEntryIsPickedAndNoContextMenuOpenedThatCouldFillAPasswordField)
{
    using Opener = ControlsReader::FocusedField::Opener;
    const QString refused = ComputerActions::clickInPasswordFieldMenu();
    const ControlsReader::Pointed entry {true, false, true, QStringLiteral(":1.5:/m/2")};
    const ControlsReader::Pointed secret {true, true, false, QStringLiteral(":1.5:/f/2")};
    const ControlsReader::Pointed plain {true, false, false, QStringLiteral(":1.5:/f/1")};
    const ControlsReader::Pointed unknown {};
    const struct {
        const char* what;
        ControlsReader::FocusedField field;
        ControlsReader::Pointed at;
        bool right;
        QString answer;
    } cases[] = {
        {"an entry while the password field has the focus", kSecretField, entry, false, refused},
        {"elsewhere while the password field has the focus", kSecretField, plain, false, "Clicked there."},
        {"a context menu while the password field has the focus", kSecretField, plain, true, refused},
        {"a context menu on the password field", kPlainField, secret, true, refused},
        {"a context menu on a plain field", kPlainField, plain, true, "Right-clicked there."},
        {"a context menu where the check can't tell", kPlainField, unknown, true, "Right-clicked there."},
        {"an entry of a menu from the password field", inMenu(Opener::password), entry, false, refused},
        {"a right click on an entry of a menu from it", inMenu(Opener::password), entry, true, refused},
        {"where the check can't tell, in a menu from it", inMenu(Opener::password), unknown, false, refused},
        {"a plain field beside a menu from it", inMenu(Opener::password), plain, false, "Clicked there."},
        {"an entry of a menu from a plain field", inMenu(Opener::plain), entry, false, "Clicked there."},
        {"an entry of a menu from who knows where", inMenu(Opener::unknown), entry, false,
         ComputerActions::couldNotCheckMenu()},
        {"elsewhere, beside a menu from who knows where", inMenu(Opener::unknown), plain, false, "Clicked there."},
        {"an entry where the focus can't be told", kUnknownField, entry, false, ComputerActions::couldNotCheckMenu()},
        {"a plain field where the focus can't be told", kUnknownField, plain, false, "Clicked there."},
        {"where neither check can tell", kUnknownField, unknown, false, "Clicked there."},
        {"a context menu on the password field, focus untold", kUnknownField, secret, true, refused},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        field = c.field;
        pointed = c.at;
        const ToolResult result = call("click", c.right ? R"({"x": 500, "y": 250, "right": true})" : R"({"x": 500, "y": 250})");
        EXPECT_TRUE(result.text.startsWith(c.answer)) << result.text.toStdString();
        // A refusal posts nothing at all.
        EXPECT_EQ(input->events.isEmpty(), result.image == std::nullopt);
        for (const QPointF& asked : std::as_const(pointedAt))
            EXPECT_EQ(asked, QPointF(500, 200));
    }
}

TEST_F(ComputerActionsTest, ADropOntoAPasswordFieldIsRefusedBeforeTheButtonGoesDown)
{
    ControlsReader::Pointed text {true, false, false, QStringLiteral(":1.5:/f/1")};
    text.text = true;
    const ControlsReader::Pointed slider {true, false, false, QStringLiteral(":1.5:/s/1")};
    const ControlsReader::Pointed unknown {};
    const struct {
        const char* what;
        ControlsReader::Pointed at;
        // What the drag starts on, asked only when the drop point can't be told.
        std::optional<ControlsReader::Pointed> from;
        QString answer;
    } cases[] = {
        {"onto a password field", ControlsReader::Pointed {true, true, false, QStringLiteral(":1.5:/f/2")}, std::nullopt,
         ComputerActions::passwordField()},
        {"onto a plain field", ControlsReader::Pointed {true, false, false, QStringLiteral(":1.5:/f/1")}, std::nullopt, {}},
        // A canvas or an application off the bus: nothing to judge the drop by.
        {"a slider's knob where the drop can't be told", unknown, slider, {}},
        {"text where the drop can't be told", unknown, text, ComputerActions::couldNotCheckDrop()},
        {"where neither can be told", unknown, unknown, ComputerActions::couldNotCheckDrop()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        pointedNext = {c.at};
        if (c.from)
            pointedNext.push_back(*c.from);
        const ToolResult result = call("drag", R"({"from_id": "L1", "to_x": 800, "to_y": 750})");
        ASSERT_EQ(pointedAt.size(), c.from ? 2 : 1);
        EXPECT_EQ(pointedAt.front(), QPointF(800, 600));
        if (c.answer.isEmpty()) {
            EXPECT_TRUE(result.text.startsWith(QStringLiteral("Dragged it.") + kNowMarker)) << result.text.toStdString();
            EXPECT_TRUE(input->events.contains(QStringLiteral("left down")));
        } else {
            EXPECT_EQ(result.text, c.answer);
            EXPECT_TRUE(input->events.isEmpty());
        }
    }
}

TEST_F(ComputerActionsTest, AClickThatWouldLeaveTheFocusInAPasswordFieldIsRefused)
{
    const QString refused = ComputerActions::clickStaysInPasswordField();
    const ControlsReader::Pointed secret {true, true, false, QStringLiteral(":1.5:/f/2")};
    const ControlsReader::Pointed button {true, false, false, QStringLiteral(":1.5:/b/1")};
    const ControlsReader::Pointed unknown {};
    ControlsReader::FocusedField unanswered;
    unanswered.unanswered = true;
    const struct {
        const char* what;
        ControlsReader::FocusedField field;
        ControlsReader::Pointed at;
        // Whether what lies there takes the focus when given it.
        bool takes;
        QString answer;
    } cases[] = {
        {"a button that takes the focus", kSecretField, button, true, "Clicked there."},
        {"what can't take the focus", kSecretField, button, false, refused},
        {"where the check can't tell", kSecretField, unknown, true, refused},
        {"the password field itself", kSecretField, secret, false, "Clicked there."},
        {"a button that takes no focus, from a plain field", kPlainField, button, false, "Clicked there."},
        {"where neither is told by an application on the bus", unanswered, unknown, true,
         ComputerActions::couldNotCheckField()},
        {"what is told, when the focus is not", unanswered, button, true, "Clicked there."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        field = c.field;
        pointed = c.at;
        if (!c.takes)
            focusTaken.reset();
        const ToolResult result = call("click", R"({"x": 500, "y": 250})");
        EXPECT_TRUE(result.text.startsWith(c.answer)) << result.text.toStdString();
        EXPECT_EQ(input->events.isEmpty(), result.image == std::nullopt);
        // The focus is given only where a click would otherwise leave it in the password field.
        const bool given = c.field.secure && c.at.checked && !c.at.secure;
        EXPECT_EQ(focusGivenAt, given ? QList<QPointF> {QPointF(500, 200)} : QList<QPointF> {});
    }
    // Nor does Return pick what an application that did not answer may show; where no application
    // is on the bus, it goes.
    SetUp();
    field = unanswered;
    EXPECT_EQ(call("press_keys", R"({"keys": "return"})").text, ComputerActions::couldNotCheckField());
    EXPECT_TRUE(input->events.isEmpty());
    field = kUnknownField;
    EXPECT_TRUE(call("press_keys", R"({"keys": "return"})").text.startsWith(QStringLiteral("Pressed return.")));
}

TEST_F(ComputerActionsTest, TypingChecksTheFieldFliesBelowItAndKeepsThePace)
{
    EXPECT_EQ(call("type_text", R"({"text": ""})").text, QStringLiteral("Nothing to type."));
    field.secure = true;
    EXPECT_EQ(call("type_text", R"({"text": "  "})").text,
              QStringLiteral("That's a password field. Ask the user to type it themselves."));
    field = ControlsReader::FocusedField {};
    EXPECT_EQ(call("type_text", R"({"text": "hunter2"})").text, ComputerActions::couldNotCheckField());
    EXPECT_TRUE(input->events.isEmpty());
    EXPECT_EQ(world().engine().mode(), world().engine().homeMode());

    field = kPlainField;
    const ToolResult typed = call("type_text", R"({"text": "Hé!", "press_return": "true"})");
    EXPECT_EQ(typed.text, QStringLiteral("Typed it."));
    EXPECT_FALSE(typed.image);
    EXPECT_EQ(input->events, (QStringList {QStringLiteral("key H"), QStringLiteral("key eacute"), QStringLiteral("key exclam")}));
    EXPECT_NEAR(input->times[1] - input->times[0], 0.022, 1e-6);
    EXPECT_EQ(world().engine().mode(), CursorMode::pinned(QPointF(328, 232)));
    EXPECT_EQ(screen->reads, 0);

    SetUp();
    const ToolResult entered = call("type_text", R"({"text": "ok", "press_return": true})");
    EXPECT_TRUE(entered.text.startsWith(QStringLiteral("Typed it and pressed Return.") + kNowMarker));
    EXPECT_EQ(input->events.back(), QStringLiteral("key Return"));

    // A field as tall as a document, or one off the screen: typed from where the character is.
    for (const QRectF frame : {QRectF(0, 0, 1000, 700), QRectF(3000, 100, 200, 30)}) {
        SetUp();
        field = ControlsReader::FocusedField {frame, false, true, true, {}};
        call("type_text", R"({"text": "x"})");
        EXPECT_EQ(world().engine().mode(), CursorMode::docked());
    }

    SetUp();
    const QString longText = QStringLiteral(R"({"text": "%1"})").arg(QString(161, QLatin1Char('a')));
    runTask(actions->handle(QStringLiteral("type_text"), toolargs::parse(longText), {}));
    ASSERT_EQ(input->times.size(), 161u);
    EXPECT_NEAR(input->times[1] - input->times[0], 0.012, 1e-6);
}

TEST_F(ComputerActionsTest, NoSpellingOrOrderOfAForbiddenCombinationIsPressed)
{
    // What logs out, locks, powers off, reboots or force-quits on a Linux desktop, or leaves the session.
    const char* forbidden[] = {
        "cmd+option+escape", "option+cmd+esc",  "ctrl+alt+escape", "alt+ctrl+esc", "⌃⌥⎋", "control+alt+⎋",
        "ctrl+alt+delete",  "ctrl+alt+del", "cmd+option+forwarddelete", "ctrl+alt+shift+del",
        "shift+ctrl+alt+forwarddelete", "ctrl+alt+backspace", "⌘⌥⌫", "ctrl+alt+bksp",
        "super+l",       "win+shift+l",      "meta+l", "windows+L", "❖L", "ctrl+alt+l", "alt+control+L",
        "ctrl+alt+f1",   "control+option+F12", "ctrl+alt+f7", "⌃⌥F2", "sysrq", "alt+sysrq",
        "ctrl+alt+shift+pgup", "ctrl+alt+shift+PageUp", "Ctrl + Alt + Shift + Page Up", "shift+alt+ctrl+prior",
        "⌃⌥⇧⇞", "ctrl+alt+shift+pgdn", "ctrl+alt+shift+pagedown", "ctrl+alt+shift+next", "alt+shift+ctrl+pgdown",
        "ctrl+alt+end",
        // As the model knows them from another desktop, in any order of their keys.
        "cmd+shift+q", "shift+cmd+q", "⌘⇧Q", "Command + Shift + Q", "cmd+option+shift+q", "shift+alt+command+q",
        "q+cmd+option+shift", "ctrl+cmd+q", "cmd+ctrl+q", "control+cmd+q", "cmd+option+escape", "option+cmd+esc",
        "esc+alt+cmd", "cmd+option+esc",
    };
    const QString refusal = QStringLiteral("I won't press that one (it logs out, locks or force-quits). Ask the user to do it.");
    for (const char* keys : forbidden) {
        SCOPED_TRACE(keys);
        const QString json = QStringLiteral(R"({"keys": "%1"})").arg(QString::fromUtf8(keys));
        const ToolResult result = runTask(actions->handle(QStringLiteral("press_keys"), toolargs::parse(json), {}));
        EXPECT_EQ(result.text, refusal);
        EXPECT_TRUE(input->events.isEmpty());
    }
    // Quitting the front program, a picture of a window, a task list and near neighbours that no desktop
    // binds to leaving the session are pressed.
    const char* allowed[] = {"ctrl+q", "cmd+q", "ctrl+shift+q", "ctrl+alt+shift+q", "cmd+alt+q", "alt+print", "prtsc+alt", "ctrl+esc", "cmd+escape",
                             "ctrl+shift+escape", "ctrl+l", "alt+l", "ctrl+alt+t", "ctrl+alt+pageup",
                             "ctrl+shift+pgdn", "ctrl+end", "alt+f4", "escape", "shift+escape", "super+e",
                             "ctrl+delete", "print", "ctrl+c"};
    for (const char* keys : allowed) {
        SCOPED_TRACE(keys);
        SetUp();
        const QString json = QStringLiteral(R"({"keys": "%1"})").arg(QString::fromUtf8(keys));
        const ToolResult result = runTask(actions->handle(QStringLiteral("press_keys"), toolargs::parse(json), {}));
        EXPECT_TRUE(result.text.startsWith(QStringLiteral("Pressed "))) << result.text.toStdString();
        EXPECT_EQ(input->events.size(), 1);
    }
}

TEST_F(ComputerActionsTest, EverySpellingOfAKeyHoldsTheSameKeys)
{
    const std::vector<std::vector<const char*>> same = {
        {"cmd+option+esc", "ctrl+alt+escape", "control+alt+esc", "⌘⌥⎋", "⌃⌥⎋", "alt + ctrl + Escape"},
        {"ctrl+alt+shift+pgup", "ctrl+alt+shift+pageup", "ctrl+alt+shift+prior", "ctrl+alt+shift+page_up",
         "⌃⌥⇧⇞"},
        {"super+l", "win+l", "meta+l", "windows+l", "❖l"},
        {"cmd+delete", "ctrl+backspace", "ctrl+bksp", "⌘⌫"},
    };
    for (const auto& spellings : same) {
        const std::optional<KeyCombination> first = KeyCombination::parse(QString::fromUtf8(spellings.front()));
        ASSERT_TRUE(first);
        for (const char* spelling : spellings) {
            SCOPED_TRACE(spelling);
            const std::optional<KeyCombination> parsed = KeyCombination::parse(QString::fromUtf8(spelling));
            ASSERT_TRUE(parsed);
            EXPECT_EQ(parsed->keysym, first->keysym);
            EXPECT_EQ(parsed->held(), first->held());
            EXPECT_EQ(parsed->forbidden(), first->forbidden());
        }
    }
}

TEST_F(ComputerActionsTest, KeysArePressedWithTheirModifiersAndLabelled)
{
    const struct {
        const char* keys;
        const char* event;
        const char* label;
    } cases[] = {
        {"cmd+c", "key c held 2", "Ctrl+C"},
        {"ctrl+c", "key c held 2", "Ctrl+C"},
        {"⌘⌃c", "key c held 2", "Ctrl+C"},
        {"  ctrl + shift + T ", "key t held 3", "Ctrl+Shift+T"},
        {"cmd+w", "key w held 2", "Ctrl+W"},
        {"option+left", "key Left held 4", "Alt+←"},
        {"shift+super+option+cmd+x", "key x held 15", "Ctrl+Alt+Shift+Super+X"},
        {"F5", "key F5", "F5"},
        {"super+e", "key e held 8", "Super+E"},
        {"cmd++", "key plus held 2", "Ctrl++"},
        {"return", "key Return", "Enter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        SetUp();
        const QString json = QStringLiteral(R"({"keys": "%1"})").arg(QString::fromUtf8(c.keys));
        const ToolResult result = runTask(actions->handle(QStringLiteral("press_keys"), toolargs::parse(json), {}));
        EXPECT_TRUE(result.text.startsWith(QStringLiteral("Pressed ") + text::trimmedSpacesAndTabs(QString::fromUtf8(c.keys))
                                           + QLatin1Char('.') + kNowMarker));
        EXPECT_EQ(input->events, QStringList {QString::fromLatin1(c.event)});
        const std::optional<KeyCombination> parsed = KeyCombination::parse(QString::fromUtf8(c.keys));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->label, QString::fromUtf8(c.label));
    }
    for (const char* unknown : {"cmd+banana", "", "cmd+shift", "a+b"}) {
        SCOPED_TRACE(unknown);
        SetUp();
        const QString json = QStringLiteral(R"({"keys": "%1"})").arg(QString::fromUtf8(unknown));
        const ToolResult result = runTask(actions->handle(QStringLiteral("press_keys"), toolargs::parse(json), {}));
        EXPECT_TRUE(result.text.startsWith(QStringLiteral("I don't know the key \""))) << result.text.toStdString();
        EXPECT_FALSE(result.image);
        EXPECT_TRUE(input->events.isEmpty());
    }
    SetUp();
    EXPECT_EQ(call("press_keys", R"({"keys": "cmd+banana"})").text, QStringLiteral("I don't know the key \"banana\"."));
}

TEST_F(ComputerActionsTest, AppsAndAddressesAreOpenedAndTheScreenLookedAt)
{
    EXPECT_EQ(call("open_app", R"({"name": "  \t"})").text, QStringLiteral("Which app?"));
    EXPECT_TRUE(call("open_app", R"({"name": " Files "})").text.startsWith(QStringLiteral("Switched to Files.") + kNowMarker));

    const struct {
        const char* url;
        const char* sentence;
        const char* opened;
    } cases[] = {
        {" example.com/path?q=1 ", "Opened example.com.", "https://example.com/path?q=1"},
        {"http://Docs.Example.org", "Opened docs.example.org.", "http://docs.example.org"},
        {"ftp://example.com", "That doesn't look like a web address.", nullptr},
        {"https://", "That doesn't look like a web address.", nullptr},
        {"", "That doesn't look like a web address.", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.url);
        opened.clear();
        const QString json = QStringLiteral(R"({"url": "%1"})").arg(QString::fromUtf8(c.url));
        const ToolResult result = runTask(actions->handle(QStringLiteral("open_url"), toolargs::parse(json), {}));
        EXPECT_TRUE(result.text.startsWith(QString::fromUtf8(c.sentence) + kNowMarker)) << result.text.toStdString();
        EXPECT_EQ(opened, c.opened ? QStringList {QString::fromUtf8(c.opened)} : QStringList {});
    }
    EXPECT_EQ(call("wave").text, QStringLiteral("Unknown action wave."));
}

// A text of `count` letters as the model would send it.
QString typeArguments(qsizetype count)
{
    return QStringLiteral(R"({"text": "%1"})").arg(QString(count, QLatin1Char('a')));
}

TEST_F(ComputerActionsTest, StopOrSleepEndsALongTextBetweenTwoKeys)
{
    const QString stopped = QStringLiteral("The user pressed stop. Don't do anything else until they ask again.");
    for (const bool sleep : {false, true}) {
        SCOPED_TRACE(sleep ? "sleep" : "stop");
        SetUp();
        CancelToken chain;
        double stoppedAt = 0;
        input->afterEvent = [&] {
            if (input->events.size() != 100)
                return;
            stoppedAt = world().time.now;
            if (sleep)
                chain.cancel();
            else
                world().pointing->stop();
        };
        const ToolResult result =
            runTask(actions->handle(QStringLiteral("type_text"), toolargs::parse(typeArguments(3000)), chain));
        // Not one key after the stop, and the action over well within a tenth of a second.
        EXPECT_EQ(input->events.size(), 100);
        EXPECT_LT(world().time.now - stoppedAt, 0.1);
        EXPECT_EQ(result.text, QStringLiteral("I typed 100 of 3000 characters, then stopped. ")
                                   + (sleep ? ComputerActions::calledOffSentence() : stopped));
        EXPECT_FALSE(result.image);
    }
}

TEST_F(ComputerActionsTest, StopOrSleepDuringADragLetsGoAtOnceAndEndsIt)
{
    for (const bool sleep : {false, true}) {
        SCOPED_TRACE(sleep ? "sleep" : "stop");
        SetUp();
        CancelToken chain;
        int moves = 0;
        input->afterEvent = [&] {
            if (!input->events.contains(QStringLiteral("left down")) || !input->events.back().startsWith("move "))
                return;
            if (++moves != 3)
                return;
            if (sleep)
                chain.cancel();
            else
                world().pointing->stop();
        };
        const double started = world().time.now;
        const ToolResult result = runTask(actions->handle(
            QStringLiteral("drag"), toolargs::parse(QStringLiteral(R"({"from_id": "L1", "to_x": 800, "to_y": 750})")),
            chain));
        EXPECT_EQ(result.text, QStringLiteral("I let go before the end of the drag. ")
                                   + (sleep ? ComputerActions::calledOffSentence() : ComputerActions::stoppedSentence()));
        const QStringList& events = input->events;
        const qsizetype down = events.indexOf(QStringLiteral("left down"));
        ASSERT_GE(down, 0);
        // Three moves with the button held, then straight away the release and the pointer back.
        EXPECT_EQ(events.mid(down + 4), (QStringList {QStringLiteral("left up"), QStringLiteral("warp 1500,900")}));
        EXPECT_FALSE(world().engine().dragging());
        // The loop ended rather than spinning out the flight (a whole drag takes far longer).
        EXPECT_LT(world().time.now - started, 1.0);
        EXPECT_EQ(screen->reads, 0);
    }
}

TEST_F(ComputerActionsTest, GoingToSleepDuringADragEndsItThroughTheHost)
{
    CodexController codex;
    HostTools::Ports toolPorts;
    toolPorts.screen = screen;
    toolPorts.signedIn = [] { return true; };
    ComputerActions* const hands = actions.get();
    toolPorts.computerControl = [hands](QString name, Json arguments, CancelToken cancel) {
        return hands->handle(std::move(name), std::move(arguments), std::move(cancel));
    };
    RealtimeHost::Ports hostPorts;
    hostPorts.tools = std::make_shared<HostTools>(world().pointing, codex, std::move(toolPorts));
    hostPorts.pointing = world().pointing;
    hostPorts.stopMotivation = [] {};
    RealtimeHost host(codex, std::move(hostPorts));
    std::vector<Packet> answers;
    const RealtimeHost::Reply reply = [&](const Packet& packet) { answers.push_back(packet); };
    Packet awake;
    awake.command = QStringLiteral("awake");
    host.handlePhoneRequest(awake, reply);

    int moves = 0;
    input->afterEvent = [&] {
        if (input->events.contains(QStringLiteral("left down")) && input->events.back().startsWith("move ")
            && ++moves == 2) {
            Packet asleep;
            asleep.command = QStringLiteral("asleep");
            host.handlePhoneRequest(asleep, reply);
        }
    };
    Packet drag;
    drag.command = QStringLiteral("tool");
    drag.tool = QStringLiteral("drag");
    drag.text = QStringLiteral(R"({"from_id": "L1", "to_x": 800, "to_y": 750})");
    drag.callID = QStringLiteral("d");
    host.handlePhoneRequest(drag, reply);
    ASSERT_TRUE(waitUntil([&] { return !answers.empty(); }));
    EXPECT_EQ(answers[0].text, QStringLiteral("I let go before the end of the drag. ") + ComputerActions::calledOffSentence());
    const qsizetype down = input->events.indexOf(QStringLiteral("left down"));
    ASSERT_GE(down, 0);
    EXPECT_EQ(input->events.mid(down + 3), (QStringList {QStringLiteral("left up"), QStringLiteral("warp 1500,900")}));
}

TEST_F(ComputerActionsTest, AKeyThatMayMoveTheFocusHasTheNewFieldCheckedFirst)
{
    const QString plainThenStop = QStringLiteral("I typed 6 of 13 characters, then stopped. The focus moved to another field. ");
    // The field that took the name asks for the password where it stands.
    ControlsReader::FocusedField turned = kSecretField;
    turned.element = kPlainField.element;
    const struct {
        const char* text;
        std::vector<ControlsReader::FocusedField> after;
        int keys;
        QString answer;
    } cases[] = {
        {"alice\\thunter2", {kSecretField}, 6, plainThenStop + ComputerActions::passwordField()},
        {"alice\\thunter2", {kUnknownField}, 6, plainThenStop + ComputerActions::couldNotCheckField()},
        {"alice\\nhunter2", {kSecretField}, 6, plainThenStop + ComputerActions::passwordField()},
        {"alice\\nhunter2", {turned}, 6,
         "I typed 6 of 13 characters, then stopped. The field turned into a password field. " + ComputerActions::passwordField()},
        {"alice\\r\\nhunter", {kSecretField}, 6,
         QStringLiteral("I typed 6 of 12 characters, then stopped. The focus moved to another field. ")
             + ComputerActions::passwordField()},
        {"a\\tb\\nc", {kPlainField, kPlainField}, 5, QStringLiteral("Typed it.")},
        // A tab at the very end: nothing more is typed, so nothing is checked.
        {"ab\\t", {}, 3, QStringLiteral("Typed it.")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        SetUp();
        nextFields = {kPlainField, kPlainField};
        nextFields.insert(nextFields.end(), c.after.begin(), c.after.end());
        const QString json = QStringLiteral(R"({"text": "%1"})").arg(QString::fromUtf8(c.text));
        const ToolResult result = runTask(actions->handle(QStringLiteral("type_text"), toolargs::parse(json), {}));
        EXPECT_EQ(result.text, c.answer);
        EXPECT_EQ(input->events.size(), c.keys) << input->events.join(QLatin1Char(' ')).toStdString();
        EXPECT_EQ(fieldChecks, 2 + static_cast<int>(c.after.size()));
    }
    // A line break written as CR LF is one Return.
    SetUp();
    call("type_text", R"({"text": "a\r\nb"})");
    EXPECT_EQ(input->events, (QStringList {QStringLiteral("key a"), QStringLiteral("key Return"), QStringLiteral("key b")}));
}

TEST_F(ComputerActionsTest, KeysThatCannotBeSentAreReportedNotCounted)
{
    input->failing = {XK_c};
    const ToolResult pressed = call("press_keys", R"({"keys": "ctrl+c"})");
    EXPECT_EQ(pressed.text, QStringLiteral("I couldn't press \"ctrl+c\": the key could not be sent to this desktop."));
    EXPECT_FALSE(pressed.image);

    const ToolResult typed = call("type_text", R"({"text": "abcde"})");
    EXPECT_EQ(typed.text, QStringLiteral("I couldn't type \"c\" on this desktop. I typed 2 of 5 characters, then stopped."));
    EXPECT_EQ(input->events, (QStringList {QStringLiteral("key a"), QStringLiteral("key b")}));

    SetUp();
    input->failing = {XK_Return};
    const ToolResult entered = call("type_text", R"({"text": "ab", "press_return": true})");
    EXPECT_EQ(entered.text, QStringLiteral("Typed it. I couldn't press \"return\": the key could not be sent to "
                                           "this desktop."));
    EXPECT_EQ(screen->reads, 0);
}

TEST_F(ComputerActionsTest, ATextTooLongToTypeIsRefusedWithItsLimit)
{
    const ToolResult over = runTask(actions->handle(QStringLiteral("type_text"),
                                                    toolargs::parse(typeArguments(ComputerControl::kMaxTypedCharacters + 1)), {}));
    EXPECT_EQ(over.text, ComputerActions::tooLongToType());
    EXPECT_TRUE(over.text.contains(QString::number(ComputerControl::kMaxTypedCharacters)));
    const ToolResult huge = runTask(actions->handle(QStringLiteral("type_text"), toolargs::parse(typeArguments(1 << 22)), {}));
    EXPECT_EQ(huge.text, ComputerActions::tooLongToType());
    EXPECT_TRUE(input->events.isEmpty());
    EXPECT_EQ(fieldChecks, 0);

    // Characters, not code units: accented letters written with combining marks count once.
    const QString accented = QString(QStringLiteral("e\u0301")).repeated(ComputerControl::kMaxTypedCharacters);
    const ToolResult whole = runTask(actions->handle(QStringLiteral("type_text"),
                                                     toolargs::parse(QStringLiteral(R"({"text": "%1"})").arg(accented)), {}));
    EXPECT_EQ(whole.text, QStringLiteral("Typed it."));

    // Keys, not only characters: a letter under many marks takes a key for each.
    SetUp();
    const QString marked = (QStringLiteral("a") + QString(63, QChar(0x0301))).repeated(200);
    const ToolResult heavy = runTask(actions->handle(QStringLiteral("type_text"),
                                                     toolargs::parse(QStringLiteral(R"({"text": "%1"})").arg(marked)), {}));
    EXPECT_EQ(heavy.text, ComputerActions::tooManyKeysToType());
    EXPECT_TRUE(input->events.isEmpty());
}

TEST_F(ComputerActionsTest, KeysWaitForTheUsersModifiersAndSayTrulyWhyNoneWent)
{
    using M = SyntheticInput::Modifiers;
    const QString held = ComputerActions::userHoldsKeys();
    const QString latched = ComputerActions::modifiersLatched();
    const QString unreadable = ComputerActions::keyboardUnreadable();
    const struct {
        const char* tool;
        const char* arguments;
        std::deque<M> looks;
        M after;
        QStringList events;
        QString answer;
    } cases[] = {
        {"type_text", R"({"text": "tql"})", {M::down, M::down}, M::free, {"key t", "key q", "key l"}, "Typed it."},
        {"type_text", R"({"text": "tql"})", {}, M::down, {}, "I typed 0 of 3 characters, then stopped. " + held},
        {"type_text", R"({"text": "tql"})", {}, M::latched, {}, "I typed 0 of 3 characters, then stopped. " + latched},
        {"type_text", R"({"text": "tql"})", {}, M::unreadable, {}, "I typed 0 of 3 characters, then stopped. " + unreadable},
        {"press_keys", R"({"keys": "del"})", {M::latched}, M::free, {"key Delete"}, "Pressed del."},
        {"press_keys", R"({"keys": "del"})", {}, M::down, {}, "I didn't press del. " + held},
        {"press_keys", R"({"keys": "del"})", {}, M::latched, {}, "I didn't press del. " + latched},
        {"press_keys", R"({"keys": "del"})", {}, M::unreadable, {}, "I didn't press del. " + unreadable},
        {"type_text", R"({"text": "ab", "press_return": true})", {M::free, M::free, M::free, M::free}, M::latched,
         {"key a", "key b"}, "Typed it, but didn't press Return. " + latched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.tool) + " " + c.arguments + " " + c.answer.toStdString());
        SetUp();
        input->looks = c.looks;
        input->state = c.after;
        const ToolResult result = call(c.tool, c.arguments);
        EXPECT_TRUE(result.text.startsWith(c.answer)) << result.text.toStdString();
        EXPECT_EQ(input->events, c.events);
    }
}

TEST_F(ComputerActionsTest, TheGateLooksLastAndAModifierPressedMeanwhileSendsTheKeyBackThroughIt)
{
    // The user presses Shift after the gate's wait, while it looks: the key is not posted then, and
    // goes through the wait and the look again once Shift is up.
    int looked = 0;
    afterFollow = [&] {
        if (++looked == 1)
            input->looks = {SyntheticInput::Modifiers::down, SyntheticInput::Modifiers::down,
                            SyntheticInput::Modifiers::down};
    };
    follows = {ControlsReader::Follow::stays, ControlsReader::Follow::stays, ControlsReader::Follow::stays};
    EXPECT_EQ(call("type_text", R"({"text": "ab"})").text, QStringLiteral("Typed it."));
    EXPECT_EQ(input->events, (QStringList {QStringLiteral("key a"), QStringLiteral("key b")}));
    EXPECT_EQ(looked, 3);

    // While the user holds Shift the focus moves: the look after the wait sees it, and nothing goes.
    SetUp();
    input->looks = {SyntheticInput::Modifiers::down, SyntheticInput::Modifiers::down};
    nextFields = {kPlainField, kPlainField, kSecretField};
    follows = {ControlsReader::Follow::moved};
    EXPECT_EQ(call("type_text", R"({"text": "ab"})").text,
              QStringLiteral("I typed 0 of 2 characters, then stopped. The focus moved to another field. ")
                  + ComputerActions::passwordField());
    EXPECT_TRUE(input->events.isEmpty());
}

TEST_F(ComputerActionsTest, AnyChangeOfTheFocusOrOfTheFieldEndsTheTyping)
{
    using F = ControlsReader::Follow;
    ControlsReader::FocusedField otherField = kPlainField;
    otherField.element = QStringLiteral(":1.5:/f/3");
    ControlsReader::FocusedField turned = kSecretField;
    turned.element = kPlainField.element;
    const ControlsReader::FocusedField button {QRectF(300, 280, 80, 30), false, true, false, QStringLiteral(":1.5:/b/1")};
    const QString moved = QStringLiteral("The focus moved to another field.");
    const struct {
        std::deque<ControlsReader::Following> follows;
        ControlsReader::FocusedField found;
        int keys;
        QString answer;
    } cases[] = {
        {{F::stays, F::stays, F::moved}, kSecretField, 2, "I typed 2 of 5 characters, then stopped. " + moved + ' ' + ComputerActions::passwordField()},
        {{F::stays, F::moved}, otherField, 1, "I typed 1 of 5 characters, then stopped. " + moved},
        {{F::moved}, button, 0, "I typed 0 of 5 characters, then stopped. The focus moved to something that isn't a text field."},
        // Gone and back: a key may have gone elsewhere meanwhile.
        {{F::stays, F::moved}, kPlainField, 1,
         "I typed 1 of 5 characters, then stopped. The focus left the field and came back while I was typing."},
        {{F::stays, F::stays, F::stays, F::changed}, turned, 3,
         "I typed 3 of 5 characters, then stopped. The field turned into a password field. " + ComputerActions::passwordField()},
        {{F::unknown}, kPlainField, 0,
         "I typed 0 of 5 characters, then stopped. I couldn't tell in time whether the focus stayed in the field."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        SetUp();
        nextFields = {kPlainField, kPlainField, c.found};
        follows = c.follows;
        EXPECT_EQ(call("type_text", R"({"text": "hello"})").text, c.answer);
        EXPECT_EQ(input->events.size(), c.keys);
    }
    // The Return after the text is looked at like every key.
    SetUp();
    nextFields = {kPlainField, kPlainField, button};
    follows = {F::stays, F::stays, F::moved};
    EXPECT_EQ(call("type_text", R"({"text": "ab", "press_return": true})").text,
              QStringLiteral("Typed it, but didn't press Return. The focus moved to something that isn't a text field."));
    EXPECT_EQ(input->events, (QStringList {QStringLiteral("key a"), QStringLiteral("key b")}));
}

TEST_F(ComputerActionsTest, InAPasswordFieldOnlyKeysThatMoveOrSubmitArePressed)
{
    using Opener = ControlsReader::FocusedField::Opener;
    const QString password = ComputerActions::passwordField();
    const QString unknown = ComputerActions::couldNotCheckField();
    const struct {
        const char* keys;
        ControlsReader::FocusedField field;
        QString answer;
    } cases[] = {
        {"ctrl+v", kSecretField, password},        {"shift+insert", kSecretField, password},
        {"super+h", kSecretField, password},       {"ctrl+shift+u", kSecretField, password},
        {"ctrl+a", kSecretField, password},        {"backspace", kSecretField, password},
        {"ctrl+.", kSecretField, password},        {"h", kSecretField, password},
        {"tab", kSecretField, "Pressed tab."},     {"shift+tab", kSecretField, "Pressed shift+tab."},
        {"return", kSecretField, "Pressed return."}, {"escape", kSecretField, "Pressed escape."},
        {"pagedown", kSecretField, "Pressed pagedown."}, {"shift+home", kSecretField, "Pressed shift+home."},
        // What may put text in is checked as typing is wherever it goes.
        {"ctrl+v", kUnknownField, unknown},        {"super+h", kUnknownField, unknown},
        {"shift+insert", kUnknownField, unknown},  {"ctrl+shift+u", kUnknownField, unknown},
        // A toolkit types the letter of an Alt combination nothing is bound to; the menu key and
        // Shift+F10 open a context menu whose Paste "down" and "return" pick.
        {"alt+h", kUnknownField, unknown},         {"alt+shift+h", kUnknownField, unknown},
        {"option+u", kUnknownField, unknown},      {"alt+shift+1", kUnknownField, unknown},
        {"alt+space", kUnknownField, unknown},     {"menu", kUnknownField, unknown},
        {"shift+menu", kUnknownField, unknown},    {"shift+f10", kUnknownField, unknown},
        {"alt+h", kSecretField, password},         {"menu", kSecretField, password},
        {"shift+f10", kSecretField, password},     {"alt+h", kPlainField, "Pressed alt+h."},
        {"menu", kPlainField, "Pressed menu."},
        // AltGr is no key that can be written here.
        {"altgr+h", kUnknownField, "I don't know the key"},
        {"iso_level3_shift+h", kUnknownField, "I don't know the key"},
        // Alt with a key that types nothing, or with Ctrl (a shortcut), and F10 alone.
        {"alt+tab", kUnknownField, "Pressed alt+tab."}, {"alt+f4", kUnknownField, "Pressed alt+f4."},
        {"ctrl+alt+t", kUnknownField, "Pressed ctrl+alt+t."}, {"f10", kUnknownField, "Pressed f10."},
        {"ctrl+v", kPlainField, "Pressed ctrl+v."},
        // Keys that neither move nor put text in: refused only where the check finds a password field.
        {"ctrl+w", kUnknownField, "Pressed ctrl+w."}, {"f5", kUnknownField, "Pressed f5."},
        {"ctrl+c", kPlainField, "Pressed ctrl+c."},
        // In a menu the password field opened, Return, Space or an entry's letter would pick Paste;
        // the keys that only move or close it go.
        {"return", inMenu(Opener::password), password}, {"enter", inMenu(Opener::password), password},
        {"space", inMenu(Opener::password), password},  {"p", inMenu(Opener::password), password},
        {"down", inMenu(Opener::password), "Pressed down."}, {"escape", inMenu(Opener::password), "Pressed escape."},
        {"return", inMenu(Opener::unknown), ComputerActions::couldNotCheckMenu()},
        {"return", inMenu(Opener::plain), "Pressed return."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.keys);
        SetUp();
        field = c.field;
        const QByteArray arguments = QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(c.keys)).toUtf8();
        const ToolResult result = call("press_keys", arguments.constData());
        EXPECT_TRUE(result.text.startsWith(c.answer)) << result.text.toStdString();
        EXPECT_EQ(input->events.size(), result.text.startsWith(QStringLiteral("Pressed ")) ? 1 : 0);
    }
    // What was checked is looked at again when the key goes.
    SetUp();
    nextFields = {kPlainField, kSecretField};
    follows = {ControlsReader::Follow::moved};
    EXPECT_EQ(call("press_keys", R"({"keys": "ctrl+v"})").text,
              QStringLiteral("I didn't press ctrl+v. The focus moved to another field. ") + password);
    EXPECT_TRUE(input->events.isEmpty());
}

TEST_F(ComputerActionsTest, ActionsNeverOverlapAcrossSleepAndWake)
{
    // The first action waits on its field check when going to sleep calls it off.
    gate = CancelToken();
    CancelToken firstChain;
    QCoro::Task<ToolResult> first =
        actions->handle(QStringLiteral("type_text"), toolargs::parse(QStringLiteral(R"({"text": "abc"})")), firstChain);
    firstChain.cancel();
    // Awake again: the next call waits for the first one to be over.
    QCoro::Task<ToolResult> second =
        actions->handle(QStringLiteral("press_keys"), toolargs::parse(QStringLiteral(R"({"keys": "tab"})")), {});
    waitUntil([] { return false; }, std::chrono::milliseconds(30));
    EXPECT_TRUE(input->events.isEmpty());
    gate->cancel();
    EXPECT_EQ(runTask(std::move(first)).text, ComputerActions::calledOffSentence());
    EXPECT_TRUE(runTask(std::move(second)).text.startsWith(QStringLiteral("Pressed tab.") + kNowMarker));
    EXPECT_EQ(input->events, QStringList {QStringLiteral("key Tab")});
}

TEST_F(ComputerActionsTest, AKeyTheFieldDidNotTellItTookBeforeTheFocusLeftIsNotCounted)
{
    using F = ControlsReader::Follow;
    using G = ControlsReader::Following;
    const QString astray = ComputerActions::mayHaveGoneElsewhere();
    const QString moved = QStringLiteral(" The focus moved to another field. ") + ComputerActions::passwordField();
    const struct {
        const char* arguments;
        std::deque<G> follows;
        int keys;
        QString answer;
    } cases[] = {
        // The third key found the focus gone; the second may have gone with it.
        {R"({"text": "hello"})", {G {}, G {}, G {F::moved, true}}, 2, "I typed 1 of 5 characters, then stopped. " + astray + moved},
        // The field told it took the second key before the focus left.
        {R"({"text": "hello"})", {G {}, G {}, G {F::moved, false}}, 2, "I typed 2 of 5 characters, then stopped." + moved},
        // The last key, looked after once the text is out.
        {R"({"text": "ab"})", {G {}, G {}, G {F::moved, true}}, 2, "I typed 1 of 2 characters, then stopped. " + astray + moved},
        {R"({"text": "ab"})", {G {}, G {}, G {F::moved, false}}, 2, "Typed it."},
        // And by the Return's look.
        {R"({"text": "ab", "press_return": true})", {G {}, G {}, G {F::moved, true}}, 2,
         "I typed 1 of 2 characters, then stopped. " + astray + moved},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        SetUp();
        nextFields = {kPlainField, kPlainField, kSecretField};
        follows = c.follows;
        EXPECT_EQ(call("type_text", c.arguments).text, c.answer);
        EXPECT_EQ(input->events.size(), c.keys);
    }
    // Each look is told whether a key went out since the one before; a key press has none before it.
    SetUp();
    EXPECT_EQ(call("type_text", R"({"text": "ab"})").text, QStringLiteral("Typed it."));
    EXPECT_EQ(sentBeforeLook, (std::vector<bool> {false, true, true}));
    SetUp();
    EXPECT_TRUE(call("press_keys", R"({"keys": "ctrl+v"})").text.startsWith(QStringLiteral("Pressed ctrl+v.")));
    EXPECT_EQ(sentBeforeLook, std::vector<bool> {false});
}

// Keys stop once they no longer go to the field's window: the answer says why, counts only what the
// field told it took, and owns up to a key that may have reached another window, not one that
// reached none.
TEST_F(ComputerActionsTest, KeysStopWhereTheyNoLongerGoToTheFieldsWindow)
{
    using G = ControlsReader::Following;
    using KeysGo = ControlsReader::KeysGo;
    const auto away = [](bool astray, bool gone, KeysGo to) {
        G following {ControlsReader::Follow::moved, astray};
        following.away = ControlsReader::Away {gone, to};
        return following;
    };
    const QString astray = ComputerActions::mayHaveGoneElsewhere() + QLatin1Char(' ');
    const QString gone = ComputerActions::fieldWentAway();
    const QString unchecked = ComputerActions::focusInUncheckedWindow();
    const struct {
        G third;
        QString answer;
    } cases[] = {
        {away(true, true, KeysGo::toUnchecked), "I typed 1 of 5 characters, then stopped. " + astray + gone + ' ' + unchecked},
        {away(false, false, KeysGo::toUnchecked), "I typed 2 of 5 characters, then stopped. " + unchecked},
        {away(true, true, KeysGo::nowhere), "I typed 1 of 5 characters, then stopped. " + gone},
        {away(true, false, KeysGo::nowhere), "I typed 1 of 5 characters, then stopped. " + ComputerActions::focusLeftWindow()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        SetUp();
        field = kPlainField;
        follows = {G {}, G {}, c.third};
        EXPECT_EQ(call("type_text", R"({"text": "hello"})").text, c.answer);
        EXPECT_EQ(input->events.size(), 2);
        // No application on the bus to ask where the focus went.
        EXPECT_EQ(fieldChecks, 2);
    }
    SetUp();
    field = kPlainField;
    follows = {away(false, false, KeysGo::toUnchecked)};
    EXPECT_EQ(call("press_keys", R"({"keys": "ctrl+v"})").text, "I didn't press ctrl+v. " + unchecked);
    EXPECT_TRUE(input->events.isEmpty());
}

// What the field took is what it holds where the keys went, as its application tells, also when it
// told nothing of the keys it dropped; without that, what it told of each key.
TEST_F(ComputerActionsTest, WhatTheFieldTookIsReadFromIt)
{
    const struct {
        std::optional<ControlsReader::Held> held;
        std::optional<QString> there;
        QString answer;
    } cases[] = {
        {ControlsReader::Held {}, QStringLiteral("123"), "I typed all 6 characters, but the field took only 3 of them."},
        {ControlsReader::Held {}, QStringLiteral("abc123"), "Typed it."},
        {std::nullopt, QStringLiteral("123"), "Typed it."},
        {ControlsReader::Held {}, std::nullopt, "Typed it."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.answer.toStdString());
        SetUp();
        field = kPlainField;
        heldThere = c.held;
        typedThere = c.there;
        EXPECT_EQ(call("type_text", R"({"text": "abc123"})").text, c.answer);
    }
}

// Where the focus is decides for every key of every action by one rule: in a menu a letter, Return
// or Space picks an entry (Paste, from a password field), and typed text goes only into a text field.
TEST_F(ComputerActionsTest, EveryKeyOfEveryActionPassesTheOneRuleOfWhereTheFocusIs)
{
    using Opener = ControlsReader::FocusedField::Opener;
    const QString password = ComputerActions::passwordField();
    const QString menu = ComputerActions::menuOpen();
    const QString unknownMenu = ComputerActions::couldNotCheckMenu();
    const QString unknown = ComputerActions::couldNotCheckField();
    const QString notText = ComputerActions::notATextField();
    const ControlsReader::FocusedField button {QRectF(300, 280, 80, 30), false, true, false, QStringLiteral(":1.5:/b/1")};
    ControlsReader::FocusedField unanswered;
    unanswered.unanswered = true;
    const std::pair<const char*, const char*> actionsTried[] = {
        {"type_text", R"({"text": "p"})"},         {"type_text", R"({"text": "\n"})"},
        {"type_text", R"({"text": "ab", "press_return": true})"},
        {"press_keys", R"({"keys": "p"})"},        {"press_keys", R"({"keys": "return"})"},
        {"press_keys", R"({"keys": "space"})"},    {"press_keys", R"({"keys": "ctrl+v"})"},
        {"press_keys", R"({"keys": "down"})"},
    };
    const struct {
        const char* where;
        ControlsReader::FocusedField field;
        // One answer per action above; empty: the keys go.
        std::vector<QString> answers;
    } cases[] = {
        {"a menu from a password field", inMenu(Opener::password),
         {password, password, password, password, password, password, password, {}}},
        {"a menu from a plain field", inMenu(Opener::plain), {menu, menu, menu, {}, {}, {}, {}, {}}},
        {"a menu from who knows where", inMenu(Opener::unknown),
         {unknownMenu, unknownMenu, unknownMenu, unknownMenu, unknownMenu, unknownMenu, unknownMenu, {}}},
        {"a password field", kSecretField, {password, password, password, password, {}, password, password, {}}},
        {"a button", button, {notText, notText, notText, {}, {}, {}, {}, {}}},
        {"a plain field", kPlainField, {{}, {}, {}, {}, {}, {}, {}, {}}},
        {"somewhere the check can't tell", kUnknownField, {unknown, unknown, unknown, unknown, {}, unknown, unknown, {}}},
        {"an application that did not answer", unanswered,
         {unknown, unknown, unknown, unknown, unknown, unknown, unknown, {}}},
    };
    for (const auto& c : cases) {
        for (size_t i = 0; i < std::size(actionsTried); ++i) {
            SCOPED_TRACE(std::string(c.where) + ": " + actionsTried[i].first + " " + actionsTried[i].second);
            SetUp();
            field = c.field;
            const ToolResult result = call(actionsTried[i].first, actionsTried[i].second);
            if (c.answers[i].isEmpty()) {
                EXPECT_FALSE(input->events.isEmpty()) << result.text.toStdString();
                EXPECT_TRUE(result.text.startsWith(QStringLiteral("Typed it"))
                            || result.text.startsWith(QStringLiteral("Pressed ")))
                    << result.text.toStdString();
            } else {
                EXPECT_EQ(result.text, c.answers[i]);
                EXPECT_TRUE(input->events.isEmpty()) << input->events.join(QLatin1Char(' ')).toStdString();
            }
        }
    }
    // At the gate: a tab that takes the focus into a menu ends the typing there.
    SetUp();
    nextFields = {kPlainField, kPlainField, inMenu(Opener::plain)};
    EXPECT_EQ(call("type_text", R"({"text": "a\tb"})").text, "I typed 2 of 3 characters, then stopped. " + menu);
    EXPECT_EQ(input->events.size(), 2);
    // A key in flight when the field turned into a password field may be in it: said, not counted.
    SetUp();
    ControlsReader::FocusedField turned = kSecretField;
    turned.element = kPlainField.element;
    nextFields = {kPlainField, kPlainField, turned};
    follows = {ControlsReader::Following {}, ControlsReader::Following {},
               ControlsReader::Following {ControlsReader::Follow::changed, true}};
    EXPECT_EQ(call("type_text", R"({"text": "hello"})").text,
              "I typed 1 of 5 characters, then stopped. " + ComputerActions::mayHaveGoneIntoIt()
                  + " The field turned into a password field. " + password);
}

TEST_F(ComputerActionsTest, AFieldThatStopsTakingTextWhereItStandsIsSaidToHaveStopped)
{
    ControlsReader::FocusedField readOnly = kPlainField;
    readOnly.editable = false;
    const QString stopped = QStringLiteral("The field stopped taking text.");
    // Found by the check after a Return, and told by the bus while the keys go.
    nextFields = {kPlainField, kPlainField, readOnly};
    EXPECT_EQ(call("type_text", R"({"text": "hi\nyo"})").text, "I typed 3 of 5 characters, then stopped. " + stopped);
    SetUp();
    nextFields = {kPlainField, kPlainField, readOnly};
    follows = {ControlsReader::Follow::stays, ControlsReader::Follow::changed};
    EXPECT_EQ(call("type_text", R"({"text": "hello"})").text, "I typed 1 of 5 characters, then stopped. " + stopped);
    SetUp();
    nextFields = {kPlainField, kPlainField, readOnly};
    follows = {ControlsReader::Follow::stays, ControlsReader::Follow::stays, ControlsReader::Follow::changed};
    EXPECT_EQ(call("type_text", R"({"text": "ab", "press_return": true})").text,
              "Typed it, but didn't press Return. " + stopped);
}

} // namespace

namespace {

ControlsReader::Following took(std::optional<QString> text)
{
    ControlsReader::Following following;
    following.took = std::move(text);
    return following;
}

} // namespace

// What the field told it took, as it stands after each key, is set against the text: a key it never took, or other
// text than was typed, is said, and no Return goes after it. A field that never tells is not judged.
TEST_F(ComputerActionsTest, TextTheFieldDidNotTakeAsTypedIsSaid)
{
    field = kPlainField;
    follows = {took(std::nullopt), took(QStringLiteral("a")), took(QStringLiteral("ab")), took(QStringLiteral("ab"))};
    EXPECT_EQ(call("type_text", R"({"text": "abc"})").text,
              QStringLiteral("I typed all 3 characters, but the field took only 2 of them."));

    follows = {took(std::nullopt), took(QStringLiteral("a")), took(QStringLiteral("aB")), took(QStringLiteral("aBc"))};
    EXPECT_EQ(call("type_text", R"({"text": "abc"})").text,
              QStringLiteral("I typed all 3 characters, but the field took different text."));

    input->events.clear();
    follows = {took(std::nullopt), took(QString()), took(QStringLiteral("b")), took(QStringLiteral("bc"))};
    EXPECT_EQ(call("type_text", R"({"text": "abc", "press_return": true})").text,
              QStringLiteral("I typed all 3 characters, but the field took only 2 of them, so I didn't press Return."));
    EXPECT_EQ(input->events.size(), 3) << input->events.join(QLatin1Char(' ')).toStdString();

    follows = {took(std::nullopt), took(std::nullopt), took(std::nullopt), took(std::nullopt)};
    EXPECT_EQ(call("type_text", R"({"text": "abc"})").text, QStringLiteral("Typed it."));
    follows = {took(std::nullopt), took(QStringLiteral("a")), took(QStringLiteral("ab")), took(QStringLiteral("abc"))};
    EXPECT_EQ(call("type_text", R"({"text": "abc"})").text, QStringLiteral("Typed it."));
    // A page keeps a space as a no-break one.
    follows = {took(std::nullopt), took(QStringLiteral("a")), took(QStringLiteral("a\u00a0")), took(QStringLiteral("a\u00a0b"))};
    EXPECT_EQ(call("type_text", R"({"text": "a b"})").text, QStringLiteral("Typed it."));
}
