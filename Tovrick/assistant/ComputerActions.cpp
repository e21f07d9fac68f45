#include "Tovrick/assistant/ComputerActions.h"

#include <QPointer>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <utility>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/assistant/HostPointing.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/ScreenReader.h"
#include "shared/util/Log.h"
#include "shared/util/Settings.h"
#include "shared/util/Text.h"

#include <X11/keysym.h>

namespace {

bool flag(const Json& arguments, const char* key)
{
    const auto found = arguments.find(key);
    return found != arguments.end() && found->is_boolean() && found->get<bool>();
}

QString quoted(const QString& text)
{
    return QLatin1Char('"') + text + QLatin1Char('"');
}

ToolResult sentenceOnly(const QString& text)
{
    return ToolResult {text, std::nullopt};
}

const QString kThatSpot = QStringLiteral("that spot");

// Whether `text` holds more than `limit` characters, without reading far past the limit.
bool longerThan(const QString& text, qsizetype limit)
{
    if (text.size() <= limit)
        return false;
    // No character is this long; a text this long is over whatever it holds.
    constexpr qsizetype kLongestCharacter = 64;
    if (text.size() > limit * kLongestCharacter)
        return true;
    return text::characterCount(text) > limit;
}

} // namespace

ComputerActions::ComputerActions(std::shared_ptr<HostPointing> pointing, Ports ports)
    : m_pointing(std::move(pointing)), m_ports(std::move(ports))
{
    if (!m_ports.screen)
        m_ports.screen = std::make_shared<ScreenReader>();
    if (!m_ports.control)
        m_ports.control = &ComputerControl::shared();
    if (!m_ports.enabled)
        m_ports.enabled = [] { return Settings::shared().computerControl(); };
    if (!m_ports.focusedField)
        m_ports.focusedField = [] { return ControlsReader::focusedFieldIsSecure(); };
    if (!m_ports.focusStaysOn)
        m_ports.focusStaysOn = [](QString element, bool keySent) -> QCoro::Task<ControlsReader::Following> {
            auto following = ControlsReader::focusStaysOn(std::move(element), keySent);
            co_return co_await std::move(following);
        };
    if (!m_ports.elementAt)
        m_ports.elementAt = [](QPointF point) -> QCoro::Task<ControlsReader::Pointed> {
            auto looking = ControlsReader::elementAtPoint(point);
            co_return co_await std::move(looking);
        };
    if (!m_ports.textHeld)
        m_ports.textHeld = [](QString element) -> QCoro::Task<std::optional<ControlsReader::Held>> {
            auto reading = ControlsReader::textHeld(std::move(element));
            co_return co_await std::move(reading);
        };
    if (!m_ports.textTyped)
        m_ports.textTyped = [](QString element, ControlsReader::Held before) -> QCoro::Task<std::optional<QString>> {
            auto reading = ControlsReader::textTyped(std::move(element), before);
            co_return co_await std::move(reading);
        };
    if (!m_ports.focusAt)
        m_ports.focusAt = [](QPointF point) -> QCoro::Task<bool> {
            auto giving = ControlsReader::focusAtPoint(point);
            co_return co_await std::move(giving);
        };
}

QString ComputerActions::couldNotCheckField()
{
    return QStringLiteral("I can't tell whether the focused field is a password field, so I won't type into it. "
                          "Ask the user to type it themselves.");
}

QString ComputerActions::passwordField()
{
    return QStringLiteral("That's a password field. Ask the user to type it themselves.");
}

QString ComputerActions::clickStaysInPasswordField()
{
    return QStringLiteral("That click could leave the focus in a password field, so I didn't click. "
                          "Ask the user to click it themselves.");
}

QString ComputerActions::clickInPasswordFieldMenu()
{
    return QStringLiteral("That click could open or pick from a menu that pastes into a password field, so I didn't "
                          "click. Ask the user to click it themselves.");
}

QString ComputerActions::couldNotCheckMenu()
{
    return QStringLiteral("I can't tell whether this menu was opened from a password field, so I won't pick "
                          "anything in it. Ask the user to do it.");
}

QString ComputerActions::couldNotCheckDrop()
{
    return QStringLiteral("I can't tell whether the spot I'd drop it on is a password field, so I won't drop it "
                          "there. Ask the user to do it.");
}

QString ComputerActions::stoppedSentence()
{
    return QStringLiteral("The user pressed stop. Don't do anything else until they ask again.");
}

QString ComputerActions::calledOffSentence()
{
    return QStringLiteral("I was put to sleep, so I stopped there.");
}

QString ComputerActions::tooLongToType()
{
    return QStringLiteral("That's too much to type in one go: at most %1 characters at a time. Type it in parts.")
        .arg(ComputerControl::kMaxTypedCharacters);
}

QString ComputerActions::tooManyKeysToType()
{
    return QStringLiteral("That text takes too many keys to type in one go: at most %1 key presses at a time. "
                          "Type it in parts.")
        .arg(ComputerControl::kMaxTypedKeys);
}

QString ComputerActions::userHoldsKeys()
{
    return QStringLiteral("The user is holding down a key such as Ctrl, Alt or Shift.");
}

QString ComputerActions::modifiersLatched()
{
    return QStringLiteral("A key such as Ctrl, Alt or Shift is latched or locked on (as sticky keys do), so my keys "
                          "would turn into shortcuts. Ask the user to turn it off.");
}

QString ComputerActions::keyboardUnreadable()
{
    return QStringLiteral("I couldn't read the keyboard's state from the display, so I can't tell whether a key is "
                          "held.");
}

QString ComputerActions::mayHaveGoneElsewhere()
{
    return QStringLiteral("The last character I sent may have gone to what took the focus.");
}

QString ComputerActions::mayHaveGoneIntoIt()
{
    return QStringLiteral("The last character I sent may have reached the field after it changed.");
}

QString ComputerActions::fieldWentAway()
{
    return QStringLiteral("The field went away: its window closed.");
}

QString ComputerActions::focusInUncheckedWindow()
{
    return QStringLiteral("The keyboard focus is now in a window I can't check.");
}

QString ComputerActions::focusLeftWindow()
{
    return QStringLiteral("The keyboard focus left the field's window.");
}

QString ComputerActions::menuOpen()
{
    return QStringLiteral("A menu has the keyboard focus, and a letter there would pick one of its entries, so I "
                          "didn't type. Close the menu first (Escape).");
}

QString ComputerActions::notATextField()
{
    return QStringLiteral("The keyboard focus isn't in a text field, so I didn't type. Click the field first.");
}

ComputerActions::KeyUse ComputerActions::useOf(const KeyCombination& combination)
{
    if (combination.navigates())
        return combination.keysym == XK_Return || combination.keysym == XK_KP_Enter ? KeyUse::submits : KeyUse::moves;
    return combination.mayPutText() ? KeyUse::puts : KeyUse::other;
}

std::optional<QString> ComputerActions::keyRefusal(const ControlsReader::FocusedField& field, KeyUse use)
{
    using Opener = ControlsReader::FocusedField::Opener;
    // Moving and closing keys pick nothing and put nothing in, wherever they go.
    if (use == KeyUse::moves)
        return std::nullopt;
    if (!field.checked) {
        // An application that did not tell in time where its focus is may have a menu open, where
        // Return picks an entry.
        if (use == KeyUse::types || use == KeyUse::puts || field.unanswered)
            return couldNotCheckField();
        return std::nullopt;
    }
    // In a menu Return and Space pick the entry under the selection, as a letter picks the one it
    // underlines (Paste, over a password field).
    if (field.menuOpener == Opener::password)
        return passwordField();
    if (field.menuOpener == Opener::unknown)
        return couldNotCheckMenu();
    if (field.menuOpener == Opener::plain && use == KeyUse::types)
        return menuOpen();
    // A password field takes the moving keys and Return, and nothing else.
    if (field.secure && use != KeyUse::submits)
        return passwordField();
    if (use == KeyUse::types && !field.editable)
        return notATextField();
    return std::nullopt;
}

ToolResult ComputerActions::interrupted(const QString& done) const
{
    const QString why = m_chain && m_chain->isCancelled() ? calledOffSentence() : stoppedSentence();
    return sentenceOnly(done.isEmpty() ? why : done + QLatin1Char(' ') + why);
}

std::optional<QString> ComputerActions::guard()
{
    if (!m_ports.enabled())
        return QStringLiteral("The user has turned off computer control in the status menu or with Ctrl+Alt+C. You can still look and point.");
    if (m_pointing->now() < m_pointing->stoppedUntil())
        return stoppedSentence();
    if (m_ports.control->trusted())
        return std::nullopt;
    static bool told = false;
    if (!told) {
        told = true;
        logline::warning(QStringLiteral("Computer control needs the XTest extension and a running accessibility "
                                        "bus (at-spi-bus-launcher); one of them is missing."));
    }
    return m_ports.control->untrusted().description();
}

QCoro::Task<> ComputerActions::waitForTurn(CancelToken cancel)
{
    // Each waiter wakes when the action ends; the first to run takes the next turn.
    while (m_finished && !cancel.isCancelled()) {
        CancelToken finished = *m_finished;
        CancelToken wake;
        const auto wakeUp = [wake]() mutable { wake.cancel(); };
        const CancelToken::CallbackId ended = finished.onCancel(wakeUp);
        const CancelToken::CallbackId calledOff = cancel.onCancel(wakeUp);
        auto waiting = cancellableSleep(std::chrono::hours(1), wake);
        co_await std::move(waiting);
        finished.removeCallback(ended);
        cancel.removeCallback(calledOff);
    }
}

QCoro::Task<ToolResult> ComputerActions::handle(QString name, Json arguments, CancelToken cancel)
{
    // One action at a time: an action that going to sleep called off may still be letting go.
    auto turn = waitForTurn(cancel);
    co_await std::move(turn);
    if (cancel.isCancelled())
        co_return sentenceOnly(calledOffSentence());
    // A refusal leaves the pointing as it was: nothing has been done.
    if (std::optional<QString> refusal = guard())
        co_return sentenceOnly(*refusal);
    auto acting = perform(std::move(name), std::move(arguments), cancel);
    co_return co_await std::move(acting);
}

QCoro::Task<ToolResult> ComputerActions::perform(QString name, Json arguments, CancelToken chain)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    // The action's own token: going to sleep, quitting (through the chain) and the user's stop
    // (through the pointing) all end it.
    CancelToken cancel;
    const auto cancelAction = [cancel]() mutable { cancel.cancel(); };
    const CancelToken::CallbackId linked = chain.onCancel(cancelAction);
    CancelToken finished;
    m_chain = chain;
    m_finished = finished;
    pointing->beginAction(cancel);
    std::optional<QCoro::Task<ToolResult>> action;
    if (name == QLatin1String("click"))
        action.emplace(click(std::move(arguments), cancel));
    else if (name == QLatin1String("type_text"))
        action.emplace(typeText(std::move(arguments), cancel));
    else if (name == QLatin1String("press_keys"))
        action.emplace(pressKeys(std::move(arguments), cancel));
    else if (name == QLatin1String("scroll"))
        action.emplace(scroll(std::move(arguments), cancel));
    else if (name == QLatin1String("drag"))
        action.emplace(drag(std::move(arguments), cancel));
    else if (name == QLatin1String("open_app"))
        action.emplace(openApp(std::move(arguments), cancel));
    else if (name == QLatin1String("open_url"))
        action.emplace(openUrl(std::move(arguments), cancel));
    ToolResult result;
    if (action)
        result = co_await std::move(*action);
    else
        result = sentenceOnly(QStringLiteral("Unknown action ") + name + QLatin1Char('.'));
    pointing->endAction();
    chain.removeCallback(linked);
    m_chain.reset();
    m_finished.reset();
    finished.cancel();
    co_return result;
}

std::optional<ComputerActions::Point> ComputerActions::resolve(const Json& arguments, const char* id, const char* x,
                                                               const char* y) const
{
    const QString written = toolargs::text(arguments, id).value_or(QString());
    if (!written.isEmpty() && m_pointing->snapshot())
        if (const std::optional<Target> target = m_pointing->snapshot()->target(written))
            return Point {target->rect.center(), target->text};
    const std::optional<double> gridX = toolargs::number(arguments, x);
    const std::optional<double> gridY = toolargs::number(arguments, y);
    if (gridX && gridY)
        return Point {m_pointing->gridToScreen(*gridX, *gridY), kThatSpot};
    return std::nullopt;
}

QCoro::Task<ToolResult> ComputerActions::lingerThenLook(double seconds, CancelToken cancel, QString sentence)
{
    std::shared_ptr<SnapshotSource> screen = m_ports.screen;
    std::shared_ptr<HostPointing> pointing = m_pointing;
    auto linger = pointing->sleep(seconds, cancel);
    co_await std::move(linger);
    if (cancel.isCancelled())
        co_return interrupted(sentence);
    std::optional<QString> said = std::move(sentence);
    auto looking = HostTools::lookAtScreen(std::move(screen), std::move(pointing), std::move(said));
    co_return co_await std::move(looking);
}

QCoro::Task<std::optional<QString>> ComputerActions::clickRefusal(QPointF at, bool right)
{
    using Opener = ControlsReader::FocusedField::Opener;
    auto elementAt = m_ports.elementAt;
    // A menu entry (Paste) picked while a password field has the focus, or in a menu opened from
    // one, would fill the field; so would a context menu opened on it, or while it has the focus.
    auto checking = m_ports.focusedField();
    const ControlsReader::FocusedField field = co_await std::move(checking);
    const bool inMenu = field.checked && field.menuOpener != Opener::none;
    const bool fromPassword = field.checked && (field.secure || field.menuOpener == Opener::password);
    // Where the focus is, or where its menu came from, is not known: a menu entry is not picked.
    const bool untold = !field.checked || field.menuOpener == Opener::unknown;
    if (right && field.checked && field.secure)
        co_return clickInPasswordFieldMenu();
    if (!right && !fromPassword && !untold)
        co_return std::nullopt;
    auto looking = elementAt(at);
    const ControlsReader::Pointed pointed = co_await std::move(looking);
    if (right && pointed.checked && pointed.secure)
        co_return clickInPasswordFieldMenu();
    // In a menu that a password field may have opened, a point the check can't tell may be one of
    // its entries: it is taken to be one.
    const bool entry = pointed.menu || (inMenu && !pointed.checked);
    if (entry && fromPassword)
        co_return clickInPasswordFieldMenu();
    if (entry && untold)
        co_return couldNotCheckMenu();
    // Neither where the focus is nor what lies there was told in time by an application on the bus:
    // it may be a menu's entry over a password field.
    if (!field.checked && field.unanswered && !pointed.checked)
        co_return couldNotCheckField();
    // A button that does not take the focus (a toolbar's Paste) acts on the field that keeps it.
    if (!right && field.checked && field.secure) {
        auto leaving = focusLeavesPasswordField(at, pointed);
        if (!co_await std::move(leaving))
            co_return clickStaysInPasswordField();
    }
    co_return std::nullopt;
}

QCoro::Task<bool> ComputerActions::focusLeavesPasswordField(QPointF at, ControlsReader::Pointed pointed)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    auto check = m_ports.focusedField;
    // A click on a password field puts nothing in; where the check can't tell, it may.
    if (pointed.checked && pointed.secure)
        co_return true;
    if (!pointed.checked)
        co_return false;
    // Whether a click takes the focus is no part of what the bus tells (a button may take it from
    // the keys but not from the pointer): what the click lands on is given the focus first, and the
    // click goes once the focus is seen to have left the field.
    auto giving = m_ports.focusAt(at);
    if (!co_await std::move(giving))
        co_return false;
    // The application moves the focus when it gets to the request; a starved one takes a while.
    constexpr double kPatienceSeconds = 4.0;
    const double giveUp = pointing->now() + kPatienceSeconds;
    do {
        auto checking = check();
        const ControlsReader::FocusedField now = co_await std::move(checking);
        if (now.checked && !now.secure)
            co_return true;
        auto settle = pointing->sleep(0.1, {});
        co_await std::move(settle);
    } while (pointing->now() < giveUp);
    co_return false;
}

QCoro::Task<std::optional<QString>> ComputerActions::dropRefusal(QPointF from, QPointF to)
{
    auto elementAt = m_ports.elementAt;
    auto dropOnto = elementAt(to);
    const ControlsReader::Pointed target = co_await std::move(dropOnto);
    if (target.checked && target.secure)
        co_return passwordField();
    if (target.checked)
        co_return std::nullopt;
    // Where the drop lands can't be told (an application off the bus, a toolkit that answers no
    // lookup at a point): the drag goes only when what it carries is known not to be text.
    auto startOn = elementAt(from);
    const ControlsReader::Pointed source = co_await std::move(startOn);
    if (!source.checked || source.text)
        co_return couldNotCheckDrop();
    co_return std::nullopt;
}

QCoro::Task<ToolResult> ComputerActions::click(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const std::optional<Point> point = resolve(arguments, "target_id", "x", "y");
    if (!point)
        co_return sentenceOnly(QStringLiteral("Tell me what to click: a target id from look_at_screen, or x and y."));
    const bool right = flag(arguments, "right");
    const int count = flag(arguments, "double") ? 2 : 1;

    const QPointF userPointer = control->input().pointer().value_or(QPointF());
    auto flying = pointing->flyTo(point->at, cancel);
    co_await std::move(flying);
    if (cancel.isCancelled())
        co_return interrupted();
    // Where the click lands now, after the flight.
    auto judging = clickRefusal(point->at, right);
    const std::optional<QString> refusal = co_await std::move(judging);
    if (cancel.isCancelled())
        co_return interrupted();
    if (refusal)
        co_return sentenceOnly(*refusal);
    pointing->view().ringBurst(point->at, right);
    auto before = pointing->sleep(0.09, cancel);
    co_await std::move(before);
    if (cancel.isCancelled())
        co_return interrupted();
    auto clicking = control->click(point->at, right, count, cancel);
    co_await std::move(clicking);
    auto after = pointing->sleep(0.06, cancel);
    co_await std::move(after);
    control->input().warp(userPointer);
    if (cancel.isCancelled())
        co_return interrupted();

    const QString verb = right ? QStringLiteral("Right-clicked")
                               : (count == 2 ? QStringLiteral("Double-clicked") : QStringLiteral("Clicked"));
    const QString object = point->label == kThatSpot ? QStringLiteral("there") : quoted(point->label);
    QString sentence = verb + QLatin1Char(' ') + object + QLatin1Char('.');
    auto looking = lingerThenLook(0.38, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<ToolResult> ComputerActions::scroll(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const QString direction = toolargs::text(arguments, "direction").value_or(QStringLiteral("down")).toLower();
    int distance = 360;
    if (const std::optional<double> amount = toolargs::number(arguments, "amount"))
        distance = static_cast<int>(120.0 * std::clamp(*amount, 1.0, 10.0));
    QPointF at;
    if (const std::optional<Point> point = resolve(arguments, "target_id", "x", "y")) {
        at = point->at;
    } else {
        const QSizeF size = pointing->screenSize();
        at = QPointF(size.width() / 2, size.height() / 2);
    }
    const HostPointing::Scroll offsets = HostPointing::scrollDirection(direction, distance);

    const QPointF userPointer = control->input().pointer().value_or(QPointF());
    auto flying = pointing->flyTo(at, cancel);
    co_await std::move(flying);
    if (cancel.isCancelled())
        co_return interrupted();
    pointing->view().showLabel(offsets.glyph, 1.4);
    auto scrolling = control->scroll(at, offsets.dx, offsets.dy);
    co_await std::move(scrolling);
    control->input().warp(userPointer);

    QString sentence = QStringLiteral("Scrolled ") + direction + QLatin1Char('.');
    auto looking = lingerThenLook(0.28, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<ToolResult> ComputerActions::drag(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const std::optional<Point> from = resolve(arguments, "from_id", "from_x", "from_y");
    const std::optional<Point> to = resolve(arguments, "to_id", "to_x", "to_y");
    if (!from || !to)
        co_return sentenceOnly(QStringLiteral("Tell me where to drag from and to (ids or x and y)."));
    const std::shared_ptr<SyntheticInput> input = control->sharedInput();
    CursorEngine& engine = pointing->view().engine();

    const QPointF userPointer = input->pointer().value_or(QPointF());
    auto flying = pointing->flyTo(from->at, cancel);
    co_await std::move(flying);
    if (cancel.isCancelled())
        co_return interrupted();
    // A drop onto a password field puts what is dragged into it.
    auto judging = dropRefusal(from->at, to->at);
    const std::optional<QString> refusal = co_await std::move(judging);
    if (cancel.isCancelled())
        co_return interrupted();
    if (refusal)
        co_return sentenceOnly(*refusal);
    engine.press();
    input->move(from->at);
    input->button(SyntheticInput::Button::left, true);
    // A cancel lets go at once, from wherever it comes: quitting gives the loop no further turn.
    const auto holding = std::make_shared<bool>(true);
    const auto letGo = [input, holding] {
        if (std::exchange(*holding, false))
            input->button(SyntheticInput::Button::left, false);
    };
    const CancelToken::CallbackId released = cancel.onCancel(letGo);
    auto grip = pointing->sleep(0.12, cancel);
    co_await std::move(grip);

    engine.setDragging(true);
    engine.setMode(CursorMode::pinned(to->at));
    auto launch = pointing->sleep(0.04, cancel);
    co_await std::move(launch);
    // The item follows the character's curved flight, a step a frame; a flight that somehow never
    // ends still lets go after a while.
    const double giveUp = pointing->now() + 10.0;
    while (!cancel.isCancelled() && engine.flight()
           && engine.flight()->start + engine.flight()->duration > pointing->now() && pointing->now() < giveUp) {
        input->move(engine.tip());
        auto frame = pointing->sleep(0.016, cancel);
        co_await std::move(frame);
    }
    if (!cancel.isCancelled()) {
        input->move(to->at);
        auto settle = pointing->sleep(0.08, cancel);
        co_await std::move(settle);
    }
    cancel.removeCallback(released);
    letGo();
    engine.setDragging(false);
    if (cancel.isCancelled()) {
        input->warp(userPointer);
        co_return interrupted(QStringLiteral("I let go before the end of the drag."));
    }
    auto release = pointing->sleep(0.06, cancel);
    co_await std::move(release);
    input->warp(userPointer);

    QString sentence = QStringLiteral("Dragged it.");
    auto looking = lingerThenLook(0.28, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<bool> ComputerActions::recheckField(CancelToken cancel, std::shared_ptr<Followed> followed)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    auto check = m_ports.focusedField;
    // Time for the application to move its focus before it is asked where the focus is.
    auto settle = pointing->sleep(kFocusSettleSeconds, cancel);
    co_await std::move(settle);
    if (cancel.isCancelled())
        co_return false;
    followed->left = followed->field.element;
    auto checking = check();
    followed->field = co_await std::move(checking);
    followed->follow = ControlsReader::Follow::moved;
    // Followed afresh from this check.
    followed->keySent = false;
    followed->took.reset();
    followed->fromStart = false;
    // Past a tab, only a text field takes text: a space would press a button.
    co_return !keyRefusal(followed->field, followed->use);
}

QCoro::Task<> ComputerActions::readWhatItTook(std::shared_ptr<Followed> followed, QString element,
                                               std::optional<ControlsReader::Held> before)
{
    if (!before || !followed->fromStart)
        co_return;
    auto textTyped = m_ports.textTyped;
    const ControlsReader::Held held = *before;
    auto reading = textTyped(element, held);
    std::optional<QString> took = co_await std::move(reading);
    if (took)
        followed->took = std::move(took);
}

QCoro::Task<bool> ComputerActions::focusStays(std::shared_ptr<Followed> followed)
{
    auto check = m_ports.focusedField;
    const bool keySent = std::exchange(followed->keySent, false);
    auto following = m_ports.focusStaysOn(followed->field.element, keySent);
    const ControlsReader::Following answer = co_await std::move(following);
    if (keySent && followed->took)
        followed->took = answer.took;
    if (answer.follow == ControlsReader::Follow::stays)
        co_return true;
    // Even a focus that came back may have taken a key meanwhile: the typing ends, and a fresh
    // look says where the focus is for the answer.
    followed->follow = answer.follow;
    followed->astray = answer.keyAstray;
    followed->left = followed->field.element;
    followed->away = answer.away;
    // Where keys go now has no application on the bus to ask.
    if (answer.away && answer.away->to != ControlsReader::KeysGo::toWindow)
        co_return false;
    auto checking = check();
    followed->field = co_await std::move(checking);
    co_return false;
}

QCoro::Task<bool> ComputerActions::gateLook(std::shared_ptr<Followed> followed)
{
    followed->refusal = keyRefusal(followed->field, followed->use);
    if (followed->refusal)
        co_return false;
    if (!followed->field.checked)
        co_return true;
    auto staying = focusStays(followed);
    co_return co_await std::move(staying);
}

QString ComputerActions::whyStopped(const Followed& followed)
{
    const ControlsReader::FocusedField& field = followed.field;
    if (followed.refusal)
        return *followed.refusal;
    if (followed.away) {
        using KeysGo = ControlsReader::KeysGo;
        const QString gone = followed.away->gone ? fieldWentAway() + QLatin1Char(' ') : QString();
        if (followed.away->to == KeysGo::toUnchecked)
            return gone + focusInUncheckedWindow();
        if (followed.away->to == KeysGo::nowhere)
            return followed.away->gone ? fieldWentAway() : focusLeftWindow();
        // Another window of an application on the bus: where its focus is, as below.
        Followed moved = followed;
        moved.away.reset();
        return gone + whyStopped(moved);
    }
    const bool same = !followed.left.isEmpty() && field.element == followed.left;
    if (followed.follow == ControlsReader::Follow::unknown)
        return QStringLiteral("I couldn't tell in time whether the focus stayed in the field.");
    if (same && field.checked) {
        // A sign-in that asks for the password in the field that took the name.
        if (field.secure)
            return QStringLiteral("The field turned into a password field. ") + passwordField();
        // A chat box that is read-only while it sends: the focus stayed.
        if (!field.editable)
            return QStringLiteral("The field stopped taking text.");
        if (followed.follow == ControlsReader::Follow::changed)
            return QStringLiteral("The field changed while I was typing.");
        if (followed.follow == ControlsReader::Follow::moved)
            return QStringLiteral("The focus left the field and came back while I was typing.");
    }
    const QString moved = QStringLiteral("The focus moved to another field.");
    if (field.checked && field.menuOpener != ControlsReader::FocusedField::Opener::none)
        if (const std::optional<QString> refusal = keyRefusal(field, followed.use))
            return *refusal;
    if (!field.checked)
        return moved + QLatin1Char(' ') + couldNotCheckField();
    if (field.secure)
        return moved + QLatin1Char(' ') + passwordField();
    if (!field.editable)
        return QStringLiteral("The focus moved to something that isn't a text field.");
    return moved;
}

QString ComputerActions::stoppedTyping(qsizetype characters, qsizetype total, const Followed& followed,
                                       const QString& why)
{
    // A key that the field did not tell it took before the focus left is not counted as typed.
    const qsizetype counted = followed.astray && followed.endedCharacter ? characters - 1 : characters;
    QString answer = QStringLiteral("I typed %1 of %2 characters, then stopped. ").arg(counted).arg(total);
    // Keys that go nowhere reach no one.
    const bool nowhere = followed.away && followed.away->to == ControlsReader::KeysGo::nowhere;
    if (followed.astray && !nowhere)
        answer += (followed.follow == ControlsReader::Follow::changed ? mayHaveGoneIntoIt() : mayHaveGoneElsewhere())
            + QLatin1Char(' ');
    return answer + why;
}

QString ComputerActions::whyHeldBack(ComputerControl::Gate gate, const Followed& followed)
{
    switch (gate) {
    case ComputerControl::Gate::refused:
        return whyStopped(followed);
    case ComputerControl::Gate::latched:
        return modifiersLatched();
    case ComputerControl::Gate::unreadable:
        return keyboardUnreadable();
    default:
        return userHoldsKeys();
    }
}

std::optional<QString> ComputerActions::tookOtherText(const QString& text, const Followed& followed)
{
    if (!followed.took)
        return std::nullopt;
    QString asked = text;
    asked.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    // Editable web content keeps a typed space as a no-break space.
    QString took = *followed.took;
    took.replace(QChar(0x00a0), QLatin1Char(' '));
    asked.replace(QChar(0x00a0), QLatin1Char(' '));
    if (took == asked)
        return std::nullopt;
    const qsizetype total = text::characterCount(text);
    // Keys that went nowhere leave the rest of the text in order.
    const QList<uint> wanted = asked.toUcs4();
    const QList<uint> got = took.toUcs4();
    auto from = wanted.begin();
    const bool onlyLost = got.size() < wanted.size() && std::all_of(got.begin(), got.end(), [&](uint point) {
        from = std::find(from, wanted.end(), point);
        if (from == wanted.end())
            return false;
        ++from;
        return true;
    });
    if (onlyLost)
        return QStringLiteral("I typed all %1 characters, but the field took only %2 of them")
            .arg(total)
            .arg(text::characterCount(took));
    return QStringLiteral("I typed all %1 characters, but the field took different text").arg(total);
}

QCoro::Task<ToolResult> ComputerActions::typeText(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    auto check = m_ports.focusedField;
    const QString text = toolargs::text(arguments, "text").value_or(QString());
    if (text.isEmpty())
        co_return sentenceOnly(QStringLiteral("Nothing to type."));
    if (longerThan(text, ComputerControl::kMaxTypedCharacters))
        co_return sentenceOnly(tooLongToType());
    if (ComputerControl::keyPosts(text) > ComputerControl::kMaxTypedKeys)
        co_return sentenceOnly(tooManyKeysToType());
    auto checking = check();
    ControlsReader::FocusedField field = co_await std::move(checking);
    if (const std::optional<QString> refusal = keyRefusal(field, KeyUse::types))
        co_return sentenceOnly(*refusal);

    const QSizeF size = pointing->screenSize();
    const bool flies = field.frame && field.frame->intersects(QRectF(QPointF(0, 0), size))
        && field.frame->height() < 0.6 * size.height();
    if (flies) {
        const QRectF& frame = *field.frame;
        const QPointF below(frame.left() + std::min(0.2 * frame.width(), 28.0), frame.bottom() + 2);
        auto flying = pointing->flyTo(below, cancel);
        co_await std::move(flying);
        if (cancel.isCancelled())
            co_return interrupted();
        // The flight takes a while: the keys go where the focus is now.
        auto again = check();
        field = co_await std::move(again);
        if (cancel.isCancelled())
            co_return interrupted();
        if (const std::optional<QString> refusal = keyRefusal(field, KeyUse::types))
            co_return sentenceOnly(*refusal);
    } else {
        pointing->dock();
    }
    // What the field holds where the keys go, so that what it took is known the first time too,
    // whether or not it tells of each key.
    auto textHeld = m_ports.textHeld;
    QString element = field.element;
    auto reading = textHeld(element);
    const std::optional<ControlsReader::Held> before = co_await std::move(reading);
    if (cancel.isCancelled())
        co_return interrupted();
    QPointer<CursorView> view(&pointing->view());
    const auto followed = std::make_shared<Followed>();
    followed->field = field;
    ComputerControl::Typing typing;
    typing.pop = [view, followed](const QString& character) {
        followed->endedCharacter = true;
        if (view)
            view->showLabel(character, 0.5);
    };
    typing.sent = [followed] {
        followed->keySent = true;
        followed->endedCharacter = false;
    };
    typing.focusMoved = [this, cancel, followed] { return recheckField(cancel, followed); };
    typing.look = [this, followed] { return gateLook(followed); };
    auto typingTask = control->typeText(text, typing, cancel);
    const ComputerControl::Typed typed = co_await std::move(typingTask);

    const qsizetype total = text::characterCount(text);
    const QString soFar = QStringLiteral("I typed %1 of %2 characters, then stopped.").arg(typed.characters).arg(total);
    switch (typed.end) {
    case ComputerControl::Gate::posted:
        break;
    case ComputerControl::Gate::cancelled:
        co_return interrupted(soFar);
    case ComputerControl::Gate::failed:
        co_return sentenceOnly(QStringLiteral("I couldn't type \"%1\" on this desktop. ").arg(typed.failed) + soFar);
    default:
        co_return sentenceOnly(stoppedTyping(typed.characters, total, *followed, whyHeldBack(typed.end, *followed)));
    }

    const bool endsMoving = KeyCombination::movesFocus(KeyCombination::keysymForCharacter(text.back().unicode()));
    if (!flag(arguments, "press_return")) {
        // The last key is looked after as every key before it was, by the look that a next key
        // would have had.
        if (!endsMoving) {
            auto lastLook = focusStays(followed);
            co_await std::move(lastLook);
            if (followed->astray)
                co_return sentenceOnly(stoppedTyping(typed.characters, total, *followed, whyStopped(*followed)));
            auto tookRead = readWhatItTook(followed, element, before);
            co_await std::move(tookRead);
            if (const std::optional<QString> other = tookOtherText(text, *followed))
                co_return sentenceOnly(*other + QLatin1Char('.'));
        }
        co_return sentenceOnly(QStringLiteral("Typed it."));
    }
    const QString noReturn = QStringLiteral("Typed it, but didn't press Return.");
    // The Return is checked as any other key: after a text that ends in a tab, where the tab went.
    bool stays = true;
    if (endsMoving) {
        auto rechecking = recheckField(cancel, followed);
        stays = co_await std::move(rechecking);
    } else {
        auto pause = pointing->sleep(0.12, cancel);
        co_await std::move(pause);
        // What the field took of the last key is known before a Return would send it on.
        if (!cancel.isCancelled()) {
            auto lastLook = focusStays(followed);
            stays = co_await std::move(lastLook);
            if (followed->astray)
                co_return sentenceOnly(stoppedTyping(typed.characters, total, *followed, whyStopped(*followed)));
            auto tookRead = readWhatItTook(followed, element, before);
            co_await std::move(tookRead);
            if (const std::optional<QString> other = tookOtherText(text, *followed); stays && other)
                co_return sentenceOnly(*other + QStringLiteral(", so I didn't press Return."));
        }
    }
    if (cancel.isCancelled())
        co_return interrupted(noReturn);
    if (!stays)
        co_return sentenceOnly(noReturn + QLatin1Char(' ') + whyStopped(*followed));
    const unsigned long returnKey = KeyCombination::keysymForCharacter(U'\n');
    auto gate = control->postKey(returnKey, 0, typing.look, cancel);
    const ComputerControl::Gate entered = co_await std::move(gate);
    switch (entered) {
    case ComputerControl::Gate::posted:
        break;
    case ComputerControl::Gate::cancelled:
        co_return interrupted(noReturn);
    case ComputerControl::Gate::failed:
        co_return sentenceOnly(QStringLiteral("Typed it. ")
                               + ComputerControl::ControlError::notPosted(QStringLiteral("return")).description());
    default:
        if (followed->astray)
            co_return sentenceOnly(stoppedTyping(typed.characters, total, *followed, whyHeldBack(entered, *followed)));
        co_return sentenceOnly(noReturn + QLatin1Char(' ') + whyHeldBack(entered, *followed));
    }
    pointing->view().showLabel(QStringLiteral("↩"), 1.4);
    QString sentence = QStringLiteral("Typed it and pressed Return.");
    auto looking = lingerThenLook(0.55, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

bool ComputerActions::forbiddenKeys(const KeyCombination& combination)
{
    // As the model writes them (Command, Option), whatever order it puts the keys in.
    static const struct {
        unsigned words;
        unsigned long keysym;
    } five[] = {
        {KeyCombination::cmd | KeyCombination::shift, XK_q},
        {KeyCombination::cmd | KeyCombination::option | KeyCombination::shift, XK_q},
        {KeyCombination::ctrl | KeyCombination::cmd, XK_q},
        {KeyCombination::cmd | KeyCombination::option, XK_Escape},
    };
    return std::any_of(std::begin(five), std::end(five), [&](const auto& entry) {
        return combination.words == entry.words && combination.keysym == entry.keysym;
    });
}

QCoro::Task<ToolResult> ComputerActions::pressKeys(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const QString keys = text::trimmedSpacesAndTabs(toolargs::text(arguments, "keys").value_or(QString()));
    std::optional<KeyCombination> combination;
    try {
        combination = ComputerControl::combination(keys);
    } catch (const ComputerControl::ControlError& error) {
        co_return sentenceOnly(error.description());
    }
    // The same reading of the keys as the press itself, so no other spelling or order slips by.
    if (forbiddenKeys(*combination) || combination->forbidden())
        co_return sentenceOnly(
            QStringLiteral("I won't press that one (it logs out, locks or force-quits). Ask the user to do it."));
    // Where the key goes is checked, and looked at again at the key, unless it only moves.
    const auto followed = std::make_shared<Followed>();
    followed->use = useOf(*combination);
    if (followed->use != KeyUse::moves) {
        auto checking = m_ports.focusedField();
        followed->field = co_await std::move(checking);
        if (const std::optional<QString> refusal = keyRefusal(followed->field, followed->use))
            co_return sentenceOnly(*refusal);
    }
    ComputerControl::Look look = [this, followed] { return gateLook(followed); };
    pointing->dock();
    if (cancel.isCancelled())
        co_return interrupted();
    const QString didNot = QStringLiteral("I didn't press ") + keys + QStringLiteral(". ");
    auto pressing = control->press(*combination, look, cancel);
    const ComputerControl::Gate pressed = co_await std::move(pressing);
    switch (pressed) {
    case ComputerControl::Gate::posted:
        break;
    case ComputerControl::Gate::cancelled:
        co_return interrupted();
    case ComputerControl::Gate::failed:
        co_return sentenceOnly(ComputerControl::ControlError::notPosted(keys).description());
    default:
        co_return sentenceOnly(didNot + whyHeldBack(pressed, *followed));
    }
    pointing->view().showLabel(combination->label, 1.4);
    QString sentence = QStringLiteral("Pressed ") + keys + QLatin1Char('.');
    auto looking = lingerThenLook(0.38, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<ToolResult> ComputerActions::openApp(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const QString name = text::trimmedSpacesAndTabs(toolargs::text(arguments, "name").value_or(QString()));
    if (name.isEmpty())
        co_return sentenceOnly(QStringLiteral("Which app?"));
    pointing->dock();
    pointing->view().showLabel(QStringLiteral("Opening ") + name, 1.4);
    auto opening = control->openApp(name);
    QString sentence = co_await std::move(opening);
    auto looking = lingerThenLook(0.9, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}

QCoro::Task<ToolResult> ComputerActions::openUrl(Json arguments, CancelToken cancel)
{
    std::shared_ptr<HostPointing> pointing = m_pointing;
    ComputerControl* control = m_ports.control;
    const QString url = text::trimmedSpacesAndTabs(toolargs::text(arguments, "url").value_or(QString()));
    pointing->dock();
    QString sentence = control->openURL(url);
    const QString opened = QStringLiteral("Opened ");
    const QString label = sentence.startsWith(opened) ? sentence.mid(opened.size()).chopped(1) : QStringLiteral("Hmm");
    pointing->view().showLabel(label, 1.4);
    auto looking = lingerThenLook(1.1, cancel, std::move(sentence));
    co_return co_await std::move(looking);
}
