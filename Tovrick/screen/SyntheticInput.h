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
    // Presses and releases the key that carries `keysym` with the KeyCombination::Held modifiers
    // held around it; a keysym on no key of the layout is carried by a spare one. False when it
    // could not be posted.
    virtual bool key(unsigned long keysym, unsigned held) = 0;
    // Whether a modifier key (Shift, Ctrl, Alt, Super, AltGr, …) is down now; true also when the
    // keyboard cannot be read. The modifiers key() holds are let go before it returns, so a held one
    // is the user's.
    virtual bool modifierHeld() = 0;
    // How long until the key for `keysym` can be posted: one on no key of the layout waits for a
    // spare key that no application may still be reading for an earlier character.
    virtual std::chrono::milliseconds keyDelay(unsigned long keysym) = 0;
    // How far apart two clicks may be and still make a double click.
    virtual int doubleClickMilliseconds() = 0;
};
