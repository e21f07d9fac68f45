#include "Tovrick/screen/KeyCombination.h"

#include <QHash>
#include <QStringList>

#include <X11/XF86keysym.h>
#include <X11/keysym.h>

#include <algorithm>

namespace {

struct Named {
    unsigned long keysym;
    const char* label; // as a PC keyboard names the key; nullptr: the upper-cased name
};

const QHash<QString, Named>& namedKeys()
{
    static const QHash<QString, Named> keys = [] {
        QHash<QString, Named> table {
            {QStringLiteral("return"), {XK_Return, "Enter"}},
            {QStringLiteral("enter"), {XK_Return, "Enter"}},
            {QStringLiteral("tab"), {XK_Tab, "Tab"}},
            {QStringLiteral("escape"), {XK_Escape, "Esc"}},
            {QStringLiteral("esc"), {XK_Escape, "Esc"}},
            {QStringLiteral("space"), {XK_space, "Space"}},
            // "delete" is the key left of the equals sign, as the model knows it.
            {QStringLiteral("delete"), {XK_BackSpace, "Backspace"}},
            {QStringLiteral("backspace"), {XK_BackSpace, "Backspace"}},
            {QStringLiteral("forwarddelete"), {XK_Delete, "Del"}},
            {QStringLiteral("del"), {XK_Delete, "Del"}},
            {QStringLiteral("bksp"), {XK_BackSpace, "Backspace"}},
            // Key glyphs, as the model may write them.
            {QStringLiteral("⌫"), {XK_BackSpace, "Backspace"}},
            {QStringLiteral("⌦"), {XK_Delete, "Del"}},
            {QStringLiteral("⎋"), {XK_Escape, "Esc"}},
            {QStringLiteral("↩"), {XK_Return, "Enter"}},
            {QStringLiteral("⏎"), {XK_Return, "Enter"}},
            {QStringLiteral("⇥"), {XK_Tab, "Tab"}},
            {QStringLiteral("⇞"), {XK_Page_Up, "PgUp"}},
            {QStringLiteral("⇟"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("↖"), {XK_Home, "Home"}},
            {QStringLiteral("↘"), {XK_End, "End"}},
            {QStringLiteral("↑"), {XK_Up, "↑"}},
            {QStringLiteral("↓"), {XK_Down, "↓"}},
            {QStringLiteral("←"), {XK_Left, "←"}},
            {QStringLiteral("→"), {XK_Right, "→"}},
            {QStringLiteral("␣"), {XK_space, "Space"}},
            // A PC keyboard's arrow keys carry the arrows themselves.
            {QStringLiteral("up"), {XK_Up, "↑"}},
            {QStringLiteral("down"), {XK_Down, "↓"}},
            {QStringLiteral("left"), {XK_Left, "←"}},
            {QStringLiteral("right"), {XK_Right, "→"}},
            {QStringLiteral("uparrow"), {XK_Up, "↑"}},
            {QStringLiteral("downarrow"), {XK_Down, "↓"}},
            {QStringLiteral("leftarrow"), {XK_Left, "←"}},
            {QStringLiteral("rightarrow"), {XK_Right, "→"}},
            {QStringLiteral("home"), {XK_Home, "Home"}},
            {QStringLiteral("end"), {XK_End, "End"}},
            {QStringLiteral("pageup"), {XK_Page_Up, "PgUp"}},
            {QStringLiteral("pagedown"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("pgup"), {XK_Page_Up, "PgUp"}},
            {QStringLiteral("pgdn"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("pgdown"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("page_up"), {XK_Page_Up, "PgUp"}},
            {QStringLiteral("page_down"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("prior"), {XK_Page_Up, "PgUp"}},
            {QStringLiteral("next"), {XK_Page_Down, "PgDn"}},
            {QStringLiteral("insert"), {XK_Insert, "Ins"}},
            {QStringLiteral("print"), {XK_Print, "PrtSc"}},
            {QStringLiteral("printscreen"), {XK_Print, "PrtSc"}},
            {QStringLiteral("prtsc"), {XK_Print, "PrtSc"}},
            {QStringLiteral("prtscn"), {XK_Print, "PrtSc"}},
            {QStringLiteral("sysrq"), {XK_Sys_Req, "SysRq"}},
            {QStringLiteral("menu"), {XK_Menu, "Menu"}},
            {QStringLiteral("plus"), {XK_plus, "+"}},
            {QStringLiteral("minus"), {XK_minus, "-"}},
        };
        for (int f = 1; f <= 12; ++f)
            table.insert(QStringLiteral("f%1").arg(f), Named {static_cast<unsigned long>(XK_F1 + f - 1), nullptr});
        return table;
    }();
    return keys;
}

std::optional<unsigned> modifierWord(const QString& word)
{
    static const QHash<QString, unsigned> words {
        {QStringLiteral("cmd"), KeyCombination::cmd},      {QStringLiteral("command"), KeyCombination::cmd},
        {QStringLiteral("ctrl"), KeyCombination::ctrl},    {QStringLiteral("control"), KeyCombination::ctrl},
        {QStringLiteral("option"), KeyCombination::option}, {QStringLiteral("opt"), KeyCombination::option},
        {QStringLiteral("alt"), KeyCombination::option},   {QStringLiteral("shift"), KeyCombination::shift},
        {QStringLiteral("super"), KeyCombination::super},  {QStringLiteral("win"), KeyCombination::super},
        {QStringLiteral("meta"), KeyCombination::super},  {QStringLiteral("windows"), KeyCombination::super},
        {QStringLiteral("ctl"), KeyCombination::ctrl},
    };
    const auto found = words.constFind(word);
    if (found == words.constEnd())
        return std::nullopt;
    return *found;
}

std::optional<unsigned> modifierGlyph(QChar glyph)
{
    switch (glyph.unicode()) {
    case u'⌘':
        return KeyCombination::cmd;
    case u'⌃':
        return KeyCombination::ctrl;
    case u'⌥':
        return KeyCombination::option;
    case u'⇧':
        return KeyCombination::shift;
    case u'❖':
        return KeyCombination::super;
    default:
        return std::nullopt;
    }
}

// The keys held, as a Linux keyboard names them: cmd and ctrl both hold Ctrl, so both read "Ctrl".
QString modifierLabel(unsigned held)
{
    QString label;
    if (held & KeyCombination::heldControl)
        label += QStringLiteral("Ctrl+");
    if (held & KeyCombination::heldAlt)
        label += QStringLiteral("Alt+");
    if (held & KeyCombination::heldShift)
        label += QStringLiteral("Shift+");
    if (held & KeyCombination::heldSuper)
        label += QStringLiteral("Super+");
    return label;
}

} // namespace

unsigned long KeyCombination::keysymForCharacter(char32_t character)
{
    if (character == U'\n' || character == U'\r')
        return XK_Return;
    if (character == U'\t')
        return XK_Tab;
    // Latin-1 keysyms are the code points themselves; the rest of Unicode sits at 0x1000000 up.
    if ((character >= 0x20 && character <= 0x7e) || (character >= 0xa0 && character <= 0xff))
        return character;
    return 0x01000000UL + character;
}

bool KeyCombination::movesFocus(unsigned long keysym)
{
    return keysym == XK_Tab || keysym == XK_ISO_Left_Tab || keysym == XK_Return || keysym == XK_KP_Enter
        || keysym == XK_KP_Tab;
}

bool KeyCombination::printable(unsigned long keysym)
{
    if ((keysym >= 0x20 && keysym <= 0x7e) || (keysym >= 0xa0 && keysym <= 0xff))
        return true;
    if (keysym < 0x01000000UL || keysym > 0x0110ffffUL)
        return false;
    const auto point = static_cast<char32_t>(keysym - 0x01000000UL);
    return point >= 0x20 && QChar::category(point) != QChar::Other_Control;
}

bool KeyCombination::insertsText() const
{
    return printable(keysym) && (held() & ~unsigned(heldShift)) == 0;
}

bool KeyCombination::navigates() const
{
    if ((held() & ~unsigned(heldShift)) != 0)
        return false;
    switch (keysym) {
    case XK_Tab:
    case XK_ISO_Left_Tab:
    case XK_Return:
    case XK_KP_Enter:
    case XK_Escape:
    case XK_Up:
    case XK_Down:
    case XK_Left:
    case XK_Right:
    case XK_Home:
    case XK_End:
    case XK_Page_Up:
    case XK_Page_Down:
        return true;
    default:
        return false;
    }
}

bool KeyCombination::mayPutText() const
{
    const unsigned holding = held();
    if (insertsText() || keysym == XF86XK_Paste || (keysym == XK_Insert && (holding & heldShift)))
        return true;
    // The menu key and Shift+F10 open a context menu whose Paste the next keys may pick.
    if (keysym == XK_Menu || (keysym == XK_F10 && (holding & heldShift)))
        return true;
    if (!printable(keysym))
        return false;
    if ((holding & heldSuper) && !(holding & (heldControl | heldAlt)))
        return true;
    // Toolkits insert the character of an Alt combination that nothing is bound to.
    if ((holding & heldAlt) && !(holding & (heldControl | heldSuper)))
        return true;
    if (!(holding & heldControl))
        return false;
    // Paste, and Emacs's yank where a toolkit's key theme binds it.
    if (keysym == XK_v || keysym == XK_y)
        return true;
    return (keysym == XK_u && (holding & heldShift)) || keysym == XK_period || keysym == XK_semicolon;
}

std::optional<KeyCombination> KeyCombination::parse(const QString& text, QString* unknown)
{
    QString rest;
    for (QChar c : text)
        if (!c.isSpace())
            rest += c.toLower();
    const auto fail = [&](const QString& what) -> std::optional<KeyCombination> {
        if (unknown)
            *unknown = what;
        return std::nullopt;
    };

    // The plus key itself: "cmd++" or "+".
    QStringList parts;
    bool plusKey = false;
    if (rest == QLatin1String("+") || rest.endsWith(QLatin1String("++"))) {
        plusKey = true;
        rest.chop(rest == QLatin1String("+") ? 1 : 2);
    }
    parts = rest.split(QLatin1Char('+'), Qt::SkipEmptyParts);

    KeyCombination combination;
    std::optional<QString> key;
    if (plusKey)
        key = QStringLiteral("plus");
    for (QString part : parts) {
        while (!part.isEmpty()) {
            const std::optional<unsigned> glyph = modifierGlyph(part.front());
            if (!glyph)
                break;
            combination.words |= *glyph;
            part.remove(0, 1);
        }
        if (part.isEmpty())
            continue;
        if (const std::optional<unsigned> word = modifierWord(part)) {
            combination.words |= *word;
            continue;
        }
        if (key)
            return fail(part);
        key = part;
    }
    if (!key)
        return fail(text.trimmed());

    const auto named = namedKeys().constFind(*key);
    if (named != namedKeys().constEnd()) {
        combination.keysym = named->keysym;
        combination.label = modifierLabel(combination.held())
            + (named->label ? QString::fromUtf8(named->label) : key->toUpper());
        return combination;
    }
    const QList<uint> points = key->toUcs4();
    if (points.size() != 1 || points.front() < 0x20 || QChar::category(points.front()) == QChar::Other_Control)
        return fail(*key);
    combination.keysym = keysymForCharacter(static_cast<char32_t>(points.front()));
    combination.label = modifierLabel(combination.held()) + key->toUpper();
    return combination;
}

unsigned KeyCombination::held() const
{
    unsigned keys = 0;
    if (words & (cmd | ctrl))
        keys |= heldControl;
    if (words & option)
        keys |= heldAlt;
    if (words & shift)
        keys |= heldShift;
    if (words & super)
        keys |= heldSuper;
    return keys;
}

bool KeyCombination::forbidden() const
{
    const unsigned holding = held();
    for (const Forbidden& entry : forbiddenCombinations())
        if (keysym >= entry.firstKeysym && keysym <= entry.lastKeysym && (holding & entry.held) == entry.held)
            return true;
    return false;
}

const std::vector<KeyCombination::Forbidden>& KeyCombination::forbiddenCombinations()
{
    constexpr unsigned ctrl = heldControl;
    constexpr unsigned alt = heldAlt;
    constexpr unsigned shift = heldShift;
    constexpr unsigned super = heldSuper;
    // Defaults of the desktops as they ship; a user's own bindings are not known here. Refused also
    // with more modifiers held, since a desktop that grabs the combination may ignore extra ones.
    static const std::vector<Forbidden> list {
        // GNOME, KDE Plasma, Xfce, Cinnamon: the log-out dialog; MATE: the shut-down dialog. Also
        // KDE Plasma's log out without asking with Shift.
        {ctrl | alt, XK_Delete, XK_Delete, "log out"},
        // KDE Plasma: reboot and halt without asking.
        {ctrl | alt | shift, XK_Page_Up, XK_Page_Up, "reboot"},
        {ctrl | alt | shift, XK_Page_Down, XK_Page_Down, "shut down"},
        // Cinnamon: the shut-down dialog.
        {ctrl | alt, XK_End, XK_End, "shut down"},
        // GNOME, KDE Plasma: lock the screen.
        {super, XK_l, XK_l, "lock the screen"},
        // Xfce, Cinnamon, MATE, older KDE: lock the screen.
        {ctrl | alt, XK_l, XK_l, "lock the screen"},
        // KDE Plasma, Xfce: kill the window clicked next; Cinnamon: restart the desktop shell.
        {ctrl | alt, XK_Escape, XK_Escape, "force quit"},
        // The X server: kill it (where Ctrl+Alt+Backspace is switched on) and switch to a text
        // console, leaving the session.
        {ctrl | alt, XK_BackSpace, XK_BackSpace, "end the session"},
        {ctrl | alt, XK_F1, XK_F12, "switch to a text console"},
        // The kernel's own requests (reboot, kill all processes) start with SysRq. Alt+Print, which
        // the same key gives, is left to the desktop: GNOME takes a picture of the window with it.
        {0, XK_Sys_Req, XK_Sys_Req, "kernel request"},
    };
    return list;
}
