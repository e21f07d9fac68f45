#pragma once

#include <QString>

#include <optional>
#include <vector>

// One key combination as the model writes it: "+"-separated modifier words or glyphs and one key
// ("cmd+shift+t", "⌘⇧T", "control + option + delete"). Parsed once, so the safety check and the key
// press see the same keys however they were spelled.
struct KeyCombination {
    // The modifiers as written, aliases folded ("command", "⌘" → cmd; "alt", "⌥" → option; …).
    enum Word : unsigned { cmd = 1, ctrl = 2, option = 4, shift = 8, super = 16 };
    // The modifier keys held on this desktop: cmd and ctrl both hold Control.
    enum Held : unsigned { heldShift = 1, heldControl = 2, heldAlt = 4, heldSuper = 8 };

    unsigned words = 0;
    // X keysym of the key; letters in lower case.
    unsigned long keysym = 0;
    // The modifiers held, then the key, all named as on a PC keyboard ("Ctrl+Shift+PgUp", "Alt+←");
    // a character key is its character upper-cased.
    QString label;

    unsigned held() const;
    // Logs out, locks, shuts down, force-quits, ends the display server or switches terminals on
    // one of the common desktops: decided on the keys held, so every spelling and order of the
    // same keys gets the same answer.
    bool forbidden() const;

    // One refused combination: these Held modifiers (or more) around a key in the keysym range.
    struct Forbidden {
        unsigned held;
        unsigned long firstKeysym;
        unsigned long lastKeysym;
        const char* what;
    };
    // Every refused combination, in one place.
    static const std::vector<Forbidden>& forbiddenCombinations();

    // None when a part is neither a modifier nor a key this knows, when two keys are given or when
    // no key is; `unknown` then gets the offending text (the whole text when no key was given).
    static std::optional<KeyCombination> parse(const QString& text, QString* unknown = nullptr);
    // The keysym that types one Unicode code point (Return for a line feed, Tab for a tab).
    static unsigned long keysymForCharacter(char32_t character);
    // A key that may take the focus elsewhere (to the next field, or to a new page).
    static bool movesFocus(unsigned long keysym);
    // A keysym that puts a character into a text field (a space, a letter, a mark).
    static bool printable(unsigned long keysym);
    // Pressing it types a character: a printable key with no modifier but Shift held.
    bool insertsText() const;
    // Moves the focus or the caret, or submits, and nothing more (Tab, Return, Escape, the arrows,
    // Home, End, Page Up, Page Down; with Shift at most): all that may be pressed in a password field.
    bool navigates() const;
    // May put text where the focus is: a character, a paste, a character with Super or with Alt
    // (toolkits pass it through, or insert it when nothing is bound to it), code point entry
    // (Ctrl+Shift+U), the emoji chooser, or the context menu's key (Menu, Shift+F10).
    bool mayPutText() const;
};
