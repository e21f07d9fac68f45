#pragma once

#include <QPointF>

#include <chrono>
#include <optional>

// Input posted as if the user made it. Points are main-display points (top-left origin). Main thread.
class SyntheticInput {
public:
    enum class Button { left = 1, middle = 2, right = 3 };

    virtual ~SyntheticInput() = default;

    // Whether input can be posted at all.
    virtual bool available() = 0;
    // The user's pointer; none when it cannot be read.
    virtual std::optional<QPointF> pointer() = 0;
    // Puts the pointer somewhere without it counting as the user's motion (restoring it).
    virtual void warp(QPointF point) = 0;
    // Moves the pointer as a mouse would (a drag when a button is held).
    virtual void move(QPointF point) = 0;
    virtual void button(Button button, bool down) = 0;
    // Wheel clicks: positive `dy` scrolls down, positive `dx` to the right.
    virtual void wheel(int dx, int dy) = 0;
    // The state of the keys that would turn a posted key into a combination of the user's.
    enum class Modifiers {
        free,
        // A modifier key (Shift, Ctrl, Alt, Super, AltGr, …) is down.
        down,
        // One is latched or locked on, as sticky keys leave it; Caps Lock and Num Lock do not count.
        latched,
        // The keyboard's state could not be read.
        unreadable,
    };
    virtual Modifiers modifiers() = 0;
    enum class Post {
        posted,
        // Nothing was posted: a modifier is down, latched or locked, the keyboard could not be read,
        // no spare key may carry the keysym yet, or the focused application is still to read the
        // binding of one. Asking again later may post it.
        notNow,
        // It cannot be posted on this desktop.
        failed,
    };
    // Presses and releases the key that carries `keysym` with the KeyCombination::Held modifiers
    // held around it, after one more look at the modifiers (see notNow); the key is the one that
    // gives `keysym` in the layout active at that look, and a keysym on no key of it is carried by a
    // spare one. A locked Caps Lock is let go around the key, so that the
    // character that arrives is the one asked for. The modifiers held are let go before it returns.
    virtual Post key(unsigned long keysym, unsigned held) = 0;
    // How long until the key for `keysym` can be posted: one on no key of the active layout waits for a
    // spare key that no application may still be reading for an earlier character, and, once bound
    // to one, until the focused application has read the new binding.
    virtual std::chrono::milliseconds keyDelay(unsigned long keysym) = 0;
    // How far apart two clicks may be and still make a double click.
    virtual int doubleClickMilliseconds() = 0;
};
