#include <gtest/gtest.h>

#include "Tovrick/screen/KeyCombination.h"

// The bubble shows pressed keys as a PC keyboard names them, however the model spelled them.
TEST(KeyLabel, NamesEachKeyAsAPcKeyboardDoes)
{
    const struct {
        const char* keys;
        const char* label;
    } cases[] = {
        {"ctrl+escape", "Ctrl+Esc"},   {"⌃⎋", "Ctrl+Esc"},         {"home", "Home"},
        {"↖", "Home"},                 {"end", "End"},             {"shift+↘", "Shift+End"},
        {"pageup", "PgUp"},            {"⇞", "PgUp"},              {"prior", "PgUp"},
        {"pgdn", "PgDn"},              {"⇟", "PgDn"},              {"next", "PgDn"},
        {"forwarddelete", "Del"},      {"⌦", "Del"},               {"del", "Del"},
        {"delete", "Backspace"},       {"alt+⌫", "Alt+Backspace"}, {"tab", "Tab"},
        {"shift+⇥", "Shift+Tab"},      {"return", "Enter"},        {"⏎", "Enter"},
        {"cmd+↩", "Ctrl+Enter"},       {"space", "Space"},         {"␣", "Space"},
        {"insert", "Ins"},             {"printscreen", "PrtSc"},   {"sysrq", "SysRq"},
        {"menu", "Menu"},              {"f5", "F5"},               {"option+left", "Alt+←"},
        {"⌘⇧t", "Ctrl+Shift+T"},       {"super+e", "Super+E"},     {"cmd++", "Ctrl++"},
        {"shift+minus", "Shift+-"},    {"é", "É"},
    };
    for (const auto& c : cases) {
        const std::optional<KeyCombination> parsed = KeyCombination::parse(QString::fromUtf8(c.keys));
        ASSERT_TRUE(parsed) << c.keys;
        EXPECT_EQ(parsed->label, QString::fromUtf8(c.label)) << c.keys;
    }
}
