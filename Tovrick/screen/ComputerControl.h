#pragma once

#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/SyntheticInput.h"
#include "shared/util/CancelToken.h"
#include "shared/util/UserFacingError.h"

#include <QCoro/QCoroTask>
#include <QPointF>
#include <QString>
#include <QUrl>

#include <chrono>
#include <functional>
#include <memory>

// The assistant's hands: clicks, scrolls, typing and key presses posted as the user's own input,
// and opening apps and web addresses. Points are main-display points. Main thread.
class ComputerControl {
public:
    // Why a control request could not be carried out; its description is said to the model.
    class ControlError : public UserFacingError {
    public:
        enum class Kind { unknownKey, notTrusted, notPosted };
        static ControlError unknownKey(const QString& key);
        // What this computer lacks for input: the X server's XTest extension, the accessibility bus
        // (which the password-field check needs), or both.
        static ControlError notTrusted(bool xtest, bool accessibilityBus);
        // The keys were known but could not be placed on a key or sent.
        static ControlError notPosted(const QString& keys);
        Kind kind() const { return m_kind; }

    private:
        ControlError(Kind kind, QString description) : UserFacingError(std::move(description)), m_kind(kind) {}
        Kind m_kind;
    };

    struct Ports {
        std::shared_ptr<SyntheticInput> input;
        // Waits, less when the token is cancelled.
        std::function<QCoro::Task<>(std::chrono::milliseconds, CancelToken)> sleep;
        // Whether the accessibility bus answers (the password-field check depends on it).
        std::function<bool()> accessibilityBus;
        // One sentence for an app name (appopener::open by default).
        std::function<QCoro::Task<QString>(QString name)> openApp;
        // Hands an address to the desktop's URL handler.
        std::function<bool(const QUrl&)> openUrl;
    };

    // What is left empty gets the real one: XTest on $DISPLAY, timers, the session bus.
    explicit ComputerControl(Ports ports = {});

    // The one instance that the program's actions share, made on first use.
    static ComputerControl& shared();

    SyntheticInput& input() { return *m_ports.input; }
    // For work that may outlive the caller's frame (letting go of a held button on a cancel).
    std::shared_ptr<SyntheticInput> sharedInput() const { return m_ports.input; }
    // Input can be posted and the focused field can be checked.
    bool trusted();
    // The refusal that says what is missing; only meaningful when not trusted().
    ControlError untrusted();

    // Nothing more is posted once `cancel` fires (a double click may end after its first click).
    QCoro::Task<> click(QPointF point, bool right, int count, CancelToken cancel = {});
    // Offsets in points, positive to the right and downwards; one wheel click per kScrollStep.
    QCoro::Task<> scroll(QPointF point, int dx, int dy);

    // Awaited right before a key is posted: whether it may go where the focus is now.
    using Look = std::function<QCoro::Task<bool>()>;
    // How a key's way through the gate ended: posted; the cancel token fired; the user's modifier
    // stayed down, or latched or locked on, or the keyboard could not be read (each past
    // kHeldKeyWait); the look said no; the key cannot be posted here.
    enum class Gate { posted, cancelled, down, latched, unreadable, refused, failed };
    // The one gate every key passes right before it is posted, in this order: wait (for a spare key
    // when `keysym` needs one, and up to kHeldKeyWait for the user's modifiers), then the cancel
    // token, then `look` (when given), then the post, with nothing in between. A modifier pressed
    // while the gate looked sends the key through the gate again.
    QCoro::Task<Gate> postKey(unsigned long keysym, unsigned held, Look look, CancelToken cancel);

    struct Typing {
        // Shows each character typed beside the on-screen character.
        std::function<void(const QString&)> pop;
        // Awaited after a key that may have moved the focus, when more is to come; false ends the
        // typing there (as `refused`).
        std::function<QCoro::Task<bool>()> focusMoved;
        // The gate's look before every key.
        Look look;
        // Told right after each key went out.
        std::function<void()> sent;
    };
    // How typing ended and how many characters (user-perceived) went out whole before.
    struct Typed {
        // posted: all of it went out.
        Gate end = Gate::posted;
        qsizetype characters = 0;
        // failed: the character that could not be typed.
        QString failed;
    };
    // Types each character in turn, every key through the gate.
    QCoro::Task<Typed> typeText(QString text, Typing typing, CancelToken cancel = {});
    // The combination written in `keys`; throws ControlError unknownKey.
    static KeyCombination combination(const QString& keys);
    // Presses one combination through the gate.
    QCoro::Task<Gate> press(KeyCombination combination, Look look = {}, CancelToken cancel = {});
    QCoro::Task<QString> openApp(QString name);
    QString openURL(const QString& text);

    // Wheel clicks are whole steps of what the model asks for in scroll amounts.
    static constexpr int kScrollStep = 120;
    static int wheelClicks(int points);
    // The pause between typed characters.
    static std::chrono::milliseconds typingPace(qsizetype characters);
    // The longest text typed in one go: about a minute of typing.
    static constexpr qsizetype kMaxTypedCharacters = 5000;
    // The most keys one text may take: a character with marks is a key for each.
    static constexpr qsizetype kMaxTypedKeys = 2 * kMaxTypedCharacters;
    // The keys typing `text` posts (a code point each; a CR LF pair is one Return), counted no
    // further than just past kMaxTypedKeys.
    static qsizetype keyPosts(const QString& text);
    static constexpr std::chrono::milliseconds kHeldKeyWait {1000};
    static constexpr std::chrono::milliseconds kHeldKeyPoll {50};
    // Times a key goes through the gate again before the user's hands are taken to mean it.
    static constexpr int kGateRounds = 5;

private:
    // The gate's wait; `posted` when the key may go.
    QCoro::Task<Gate> waitForKey(unsigned long keysym, CancelToken cancel);

    Ports m_ports;
};
