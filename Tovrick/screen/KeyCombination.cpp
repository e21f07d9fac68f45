#include "Tovrick/screen/KeyCombination.h"

#include <QHash>
#include <QStringList>

#include <X11/keysym.h>

#include <algorithm>

namespace {

struct Named {
    unsigned long keysym;
    const char* glyph; // nullptr: the upper-cased name
};

const QHash<QString, Named>& namedKeys()
{
    static const QHash<QString, Named> keys = [] {
        QHash<QString, Named> table {
            {QStringLiteral("return"), {XK_Return, "↩"}},
            {QStringLiteral("enter"), {XK_Return, "↩"}},
            {QStringLiteral("tab"), {XK_Tab, "⇥"}},
            {QStringLiteral("escape"), {XK_Escape, "⎋"}},
            {QStringLiteral("esc"), {XK_Escape, "⎋"}},
            {QStringLiteral("space"), {XK_space, "␣"}},
            // "delete" is the key left of the equals sign, as the model knows it.
            {QStringLiteral("delete"), {XK_BackSpace, "⌫"}},
            {QStringLiteral("backspace"), {XK_BackSpace, "⌫"}},
            {QStringLiteral("forwarddelete"), {XK_Delete, "⌦"}},
            {QStringLiteral("del"), {XK_Delete, "⌦"}},
            {QStringLiteral("up"), {XK_Up, "↑"}},
            {QStringLiteral("down"), {XK_Down, "↓"}},
            {QStringLiteral("left"), {XK_Left, "←"}},
            {QStringLiteral("right"), {XK_Right, "→"}},
            {QStringLiteral("uparrow"), {XK_Up, "↑"}},
            {QStringLiteral("downarrow"), {XK_Down, "↓"}},
            {QStringLiteral("leftarrow"), {XK_Left, "←"}},
            {QStringLiteral("rightarrow"), {XK_Right, "→"}},
            {QStringLiteral("home"), {XK_Home, "↖"}},
            {QStringLiteral("end"), {XK_End, "↘"}},
            {QStringLiteral("pageup"), {XK_Page_Up, "⇞"}},
            {QStringLiteral("pagedown"), {XK_Page_Down, "⇟"}},
            {QStringLiteral("insert"), {XK_Insert, nullptr}},
            {QStringLiteral("print"), {XK_Print, nullptr}},
            {QStringLiteral("printscreen"), {XK_Print, nullptr}},
            {QStringLiteral("sysrq"), {XK_Sys_Req, nullptr}},
            {QStringLiteral("menu"), {XK_Menu, nullptr}},
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
        {QStringLiteral("meta"), KeyCombination::super},
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
    default:
        return std::nullopt;
    }
}

QString modifierLabel(unsigned words)
{
    QString label;
    if (words & KeyCombination::ctrl)
        label += QStringLiteral("⌃");
    if (words & KeyCombination::option)
        label += QStringLiteral("⌥");
    if (words & KeyCombination::shift)
        label += QStringLiteral("⇧");
    if (words & KeyCombination::cmd)
        label += QStringLiteral("⌘");
    if (words & KeyCombination::super)
        label += QStringLiteral("❖");
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
        combination.label = modifierLabel(combination.words)
            + (named->glyph ? QString::fromUtf8(named->glyph) : key->toUpper());
        return combination;
    }
    const QList<uint> points = key->toUcs4();
    if (points.size() != 1 || points.front() < 0x20 || QChar::category(points.front()) == QChar::Other_Control)
        return fail(*key);
    combination.keysym = keysymForCharacter(static_cast<char32_t>(points.front()));
    combination.label = modifierLabel(combination.words) + key->toUpper();
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
    const auto wordsInclude = [&](unsigned needed) { return (words & needed) == needed; };
    const auto heldInclude = [&](unsigned needed) { return (held() & needed) == needed; };

    // As the model means them: log out (with or without asking), lock, force quit.
    if (keysym == XK_q && (wordsInclude(cmd | shift) || wordsInclude(ctrl | cmd)))
        return true;
    if (keysym == XK_Escape && wordsInclude(cmd | option))
        return true;

    // What this desktop does with the keys held: log out, kill the display server, lock, switch to
    // a text terminal, the kernel's own requests.
    if (heldInclude(heldControl | heldAlt)) {
        if (keysym == XK_Delete || keysym == XK_BackSpace || keysym == XK_l)
            return true;
        if (keysym >= XK_F1 && keysym <= XK_F12)
            return true;
    }
    if (keysym == XK_l && heldInclude(heldSuper))
        return true;
    if (keysym == XK_Sys_Req || (keysym == XK_Print && heldInclude(heldAlt)))
        return true;
    return false;
}
