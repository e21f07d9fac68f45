#pragma once

#include <QPointF>
#include <QString>
#include <QCoro/QCoroTask>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/assistant/ToolDispatcher.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "shared/util/CancelToken.h"
#include "shared/util/Json.h"

class HostPointing;
class SnapshotSource;

// The seven computer-control tools: the guard in front of them, and the click, scroll, drag,
// typing, key, app and web-address actions, each with the character showing what it does and a
// fresh look at the screen after it. Main thread.
class ComputerActions {
public:
    struct Ports {
        std::shared_ptr<SnapshotSource> screen;
        // The shared one when empty.
        ComputerControl* control = nullptr;
        // The "computerControl" setting.
        std::function<bool()> enabled;
        std::function<QCoro::Task<ControlsReader::FocusedField>()> focusedField;
        // What the bus told of the focus since the last field check, and of the key sent since the
        // last look (ControlsReader::focusStaysOn).
        std::function<QCoro::Task<ControlsReader::Following>(QString element, bool keySent)> focusStaysOn;
        // What lies under a point of the screen (ControlsReader::elementAtPoint).
        std::function<QCoro::Task<ControlsReader::Pointed>(QPointF point)> elementAt;
        // Gives the keyboard focus to what lies under a point (ControlsReader::focusAtPoint).
        std::function<QCoro::Task<bool>(QPointF point)> focusAt;
        // What a field holds where typing goes, and later what it holds where the typing went
        // (ControlsReader::textHeld, ControlsReader::textTyped).
        std::function<QCoro::Task<std::optional<ControlsReader::Held>>(QString element)> textHeld;
        std::function<QCoro::Task<std::optional<QString>>(QString element, ControlsReader::Held before)> textTyped;
    };

    ComputerActions(std::shared_ptr<HostPointing> pointing, Ports ports);

    // The guard, then the action; the tool's whole result.
    QCoro::Task<ToolResult> handle(QString name, Json arguments, CancelToken cancel);
    // None when acting is allowed, else the refusal sentence.
    std::optional<QString> guard();
    // One action by name, between the opening and the closing step.
    QCoro::Task<ToolResult> perform(QString name, Json arguments, CancelToken cancel);

    static QString couldNotCheckField();
    static QString passwordField();
    // Refused clicks: one that could leave the focus in a password field, one that could open or
    // pick from a menu that pastes into one.
    static QString clickStaysInPasswordField();
    static QString clickInPasswordFieldMenu();
    static QString couldNotCheckMenu();
    static QString couldNotCheckDrop();
    // The answer of an action that the user's stop cut short.
    static QString stoppedSentence();
    // The answer of an action that going to sleep (or quitting) cut short.
    static QString calledOffSentence();
    static QString tooLongToType();
    static QString tooManyKeysToType();
    static QString userHoldsKeys();
    static QString modifiersLatched();
    static QString keyboardUnreadable();
    // Said after the count when the last key sent may have gone where the focus went.
    static QString mayHaveGoneElsewhere();
    // Said after the count when the last key sent may have reached the field after it changed.
    static QString mayHaveGoneIntoIt();
    // Why typing stopped when keys no longer went to the field's window: it closed, the keyboard
    // focus went to a window whose application can't be asked where its focus is, or to none.
    static QString fieldWentAway();
    static QString focusInUncheckedWindow();
    static QString focusLeftWindow();
    // The focus is in a menu, where a letter picks an entry.
    static QString menuOpen();
    // The focus is on something that takes no typed text (a button, a list, nothing).
    static QString notATextField();
    // What a key may do where it lands: type a character of a text, only move (Tab, arrows,
    // Escape), submit or pick (Return), put text in some other way (a paste, a letter with Alt, the
    // menu key), or anything else.
    enum class KeyUse { types, moves, submits, puts, other };
    static KeyUse useOf(const KeyCombination& combination);
    // The one rule every key of every action passes, against the field the focus was last seen in:
    // none when the key may go there, else why not.
    static std::optional<QString> keyRefusal(const ControlsReader::FocusedField& field, KeyUse use);
    // The five combinations that the model knows to log out, lock or force-quit, in any order.
    static bool forbiddenKeys(const KeyCombination& combination);
    // After a tab or a line break, before asking where the focus went.
    static constexpr double kFocusSettleSeconds = 0.15;

private:
    struct Point {
        QPointF at;
        QString label;
    };
    std::optional<Point> resolve(const Json& arguments, const char* id, const char* x, const char* y) const;
    // Every action lets the user see what happened before the screen is read again; a cut-short
    // linger ends the action with what it did and why it stopped.
    QCoro::Task<ToolResult> lingerThenLook(double seconds, CancelToken cancel, QString sentence);
    // What was done (a sentence, or empty), then why the action stopped.
    ToolResult interrupted(const QString& done = {}) const;
    // Ends once no action is under way, or `cancel` fires.
    QCoro::Task<> waitForTurn(CancelToken cancel);
    // The field keys go to, and what ended them there.
    struct Followed {
        ControlsReader::FocusedField field;
        ControlsReader::Follow follow = ControlsReader::Follow::stays;
        // The element the keys were going to, when the focus was seen to leave it.
        QString left;
        // A key went out since the last look, and it ended a character.
        bool keySent = false;
        bool endedCharacter = false;
        // The focus left before the field told that it took that key.
        bool astray = false;
        // What the field told it took of the keys, as it stands there; none once a key's look
        // could not say (a field that never tells, or the keys went on into another field).
        std::optional<QString> took = QString();
        // What the keys do, and why the rule held one back.
        KeyUse use = KeyUse::types;
        std::optional<QString> refusal;
        // The keys no longer went to the window of the check.
        std::optional<ControlsReader::Away> away;
        // No key moved the focus on to another field since the first key.
        bool fromStart = true;
    };
    // Takes what the field `element` holds where the keys went, read from its application, as what
    // it took, when it told where they would go before the first key (`before`).
    QCoro::Task<> readWhatItTook(std::shared_ptr<Followed> followed, QString element,
                                 std::optional<ControlsReader::Held> before);
    // When what the field took is not the text asked for: the sentence that says so.
    static std::optional<QString> tookOtherText(const QString& text, const Followed& followed);
    // The answer of a typing that stopped after `characters` went out, with why.
    static QString stoppedTyping(qsizetype characters, qsizetype total, const Followed& followed, const QString& why);
    // After a key that may have moved the focus: whether typing may go on into the field found.
    QCoro::Task<bool> recheckField(CancelToken cancel, std::shared_ptr<Followed> followed);
    // The gate's look: whether the bus told of no change of the focus or of the field since the
    // check; when it did, the field the focus is on now.
    QCoro::Task<bool> focusStays(std::shared_ptr<Followed> followed);
    // The look every key passes: the rule against the field last seen, then whether the focus
    // stays there (when it was checked).
    QCoro::Task<bool> gateLook(std::shared_ptr<Followed> followed);
    // Why the keys stopped, as the end of a sentence.
    static QString whyStopped(const Followed& followed);
    // Why the gate held a key back (the look said no, or the user's modifiers), as the end of a sentence.
    static QString whyHeldBack(ComputerControl::Gate gate, const Followed& followed);

    // Why a click at `at` may not go, if it may not.
    QCoro::Task<std::optional<QString>> clickRefusal(QPointF at, bool right);
    // While a password field has the focus: whether a click on `pointed` at `at` leaves it there
    // no longer (the field itself, or what was seen to take the focus when given it).
    QCoro::Task<bool> focusLeavesPasswordField(QPointF at, ControlsReader::Pointed pointed);
    // Why a drag from `from` to `to` may not go, if it may not.
    QCoro::Task<std::optional<QString>> dropRefusal(QPointF from, QPointF to);

    QCoro::Task<ToolResult> click(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> scroll(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> drag(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> typeText(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> pressKeys(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> openApp(Json arguments, CancelToken cancel);
    QCoro::Task<ToolResult> openUrl(Json arguments, CancelToken cancel);

    std::shared_ptr<HostPointing> m_pointing;
    Ports m_ports;
    // The action under way: the token of the tool chain it came from, and a token fired when it
    // ends (for a call that waits its turn).
    std::optional<CancelToken> m_chain;
    std::optional<CancelToken> m_finished;
};
