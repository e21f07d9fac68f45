#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <ostream>
#include <tuple>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/ScreenReader.h"
#include "assistant/PointingFakes.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/XKBlib.h>

namespace {

// The parts of the symbols the server's keymap is made of now ("pc", "us", "de:2", "inet(evdev)").
QStringList keymapSymbols()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return {};
    QStringList parts;
    XkbDescPtr xkb = XkbAllocKeyboard();
    if (xkb && XkbGetNames(display, XkbSymbolsNameMask, xkb) == Success && xkb->names && xkb->names->symbols) {
        char* name = XGetAtomName(display, xkb->names->symbols);
        parts = QString::fromLatin1(name).split(QLatin1Char('+'));
        XFree(name);
    }
    if (xkb)
        XkbFreeKeyboard(xkb, 0, True);
    XCloseDisplay(display);
    return parts;
}

// What the user does with the keyboard's layouts: a new set of them, or another one of the set.
// setxkbmap answers 0 even when its keymap is gone by the time it exits (a server left with no
// client resets its own): the keymap itself has to show the layouts.
void loadLayouts(const char* layouts)
{
    ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), QLatin1String(layouts)}), 0)
        << layouts;
    const QStringList symbols = keymapSymbols();
    const QStringList wanted = QString::fromLatin1(layouts).split(QLatin1Char(','));
    for (qsizetype i = 0; i < wanted.size(); ++i) {
        const QString part = i == 0 ? wanted[i] : QStringLiteral("%1:%2").arg(wanted[i]).arg(i + 1);
        ASSERT_TRUE(symbols.contains(part)) << "the keymap has no " << part.toStdString() << " after setxkbmap "
                                            << layouts << ": " << symbols.join(QLatin1Char('+')).toStdString();
    }
}

unsigned activeGroup()
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 0;
    XkbStateRec state {};
    XkbGetState(display, XkbUseCoreKbd, &state);
    XCloseDisplay(display);
    return state.group;
}

void lockGroup(unsigned group)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    ASSERT_TRUE(XkbLockGroup(display, XkbUseCoreKbd, group));
    XSync(display, False);
    XCloseDisplay(display);
    ASSERT_EQ(activeGroup(), group) << "the group locked is not the active one";
}

struct Switch {
    // When the field shows this many characters of the text, after the typing began.
    qsizetype after = 0;
    // A new set of layouts (none: the same set), then the group locked.
    const char* layouts = nullptr;
    unsigned group = 0;
};

struct LayoutCase {
    const char* name;
    const char* layouts;
    unsigned group;
    const char* text;
    std::optional<Switch> during;
};

void PrintTo(const LayoutCase& layout, std::ostream* out)
{
    *out << layout.name;
}

// The field typed into: the Qt window of the screen tests, or the first field of the GTK form (the
// two read the layouts in their own ways).
enum class Toolkit { qt, gtk };

void PrintTo(Toolkit toolkit, std::ostream* out)
{
    *out << (toolkit == Toolkit::qt ? "Qt" : "GTK");
}

using Typing = std::tuple<Toolkit, LayoutCase>;

std::string nameOf(const ::testing::TestParamInfo<Typing>& each)
{
    return std::string(std::get<0>(each.param) == Toolkit::qt ? "Qt" : "Gtk") + std::get<1>(each.param).name;
}

// Typing on the run's display with more than one keyboard layout, with the real input and field
// check; the layouts change after the input was made, before or while it types.
class KeyboardLayoutsOnDisplay : public ::testing::TestWithParam<Typing> {
protected:
    void SetUp() override
    {
        // The display's own keyboard comes back at the end: the run's other tests type on it.
        ASSERT_TRUE(saved.isValid());
        const QString display = QString::fromLocal8Bit(qgetenv("DISPLAY"));
        ASSERT_EQ(QProcess::execute(QStringLiteral("xkbcomp"), {QStringLiteral("-w0"), display, keymapFile()}), 0);
        group = activeGroup();

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        const bool gtk = std::get<0>(GetParam()) == Toolkit::gtk;
        if (gtk) {
            env.insert(QStringLiteral("GDK_BACKEND"), QStringLiteral("x11"));
            env.remove(QStringLiteral("NO_AT_BRIDGE"));
            textLine = QStringLiteral("TEXT first ");
        } else {
            env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        }
        window.setProcessEnvironment(env);
        window.start(QString::fromUtf8(gtk ? GTK_FORM : INPUT_TEST_WINDOW), {});
        ASSERT_TRUE(until(QStringLiteral("READY"), std::chrono::seconds(20)))
            << seen.join(QLatin1Char('\n')).toStdString();
        for (const QString& line : std::as_const(seen))
            if (line.startsWith(QLatin1String("WINDOW ")))
                id = line.mid(7).toULongLong();
        activate(id);
        if (gtk) {
            window.write("FOCUS first\n");
            ASSERT_TRUE(until(QStringLiteral("DONE FOCUS first")));
        }
        {
            // The check sees the field before anything is typed into it.
            ASSERT_TRUE(waitUntil(
                [] {
                    auto checking = ControlsReader::focusedFieldIsSecure();
                    const ControlsReader::FocusedField field = runTask(std::move(checking), std::chrono::seconds(60));
                    return field.checked && field.editable && !field.secure;
                },
                std::chrono::seconds(60)))
                << "the window's field never showed on the accessibility bus";
        }
        actions = std::make_unique<ComputerActions>(world.pointing, desktopPorts(control));
    }
    void TearDown() override
    {
        activate(0);
        window.kill();
        window.waitForFinished(3000);
        QProcess::execute(QStringLiteral("xkbcomp"), {QStringLiteral("-w0"), keymapFile(),
                                                      QString::fromLocal8Bit(qgetenv("DISPLAY"))});
        lockGroup(group);
    }

    QString keymapFile() const { return saved.filePath(QStringLiteral("keymap.xkb")); }
    bool until(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        bool found = false;
        waitUntil(
            [&] {
                while (!found && window.canReadLine())
                    found = read() == line;
                return found || seen.contains(line);
            },
            timeout);
        return found || seen.contains(line);
    }
    QString read()
    {
        seen << QString::fromUtf8(window.readLine()).trimmed();
        if (watching && seen.back() == watching->first)
            std::exchange(watching, std::nullopt)->second();
        return seen.back();
    }
    // Runs `then` once, as soon as the window prints `line` (while an action runs).
    void watch(const QString& line, std::function<void()> then)
    {
        watching.emplace(line, std::move(then));
        QObject::connect(&window, &QProcess::readyReadStandardOutput, &window, [this] {
            while (watching && window.canReadLine())
                read();
        });
    }
    QString call(const QString& tool, const QString& key, const QString& value)
    {
        const QString arguments =
            QString::fromUtf8(QJsonDocument(QJsonObject {{key, value}}).toJson(QJsonDocument::Compact));
        auto acting = actions->handle(tool, toolargs::parse(arguments), {});
        return runTask(std::move(acting), std::chrono::seconds(60)).text;
    }
    QString typeText(const QString& text) { return call(QStringLiteral("type_text"), QStringLiteral("text"), text); }

    QTemporaryDir saved;
    unsigned group = 0;
    // How the window starts the line that says the field's text.
    QString textLine = QStringLiteral("TEXT ");
    QProcess window;
    QStringList seen;
    std::optional<std::pair<QString, std::function<void()>>> watching;
    quint64 id = 0;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

TEST_P(KeyboardLayoutsOnDisplay, TheFieldGetsTheTextAskedForInTheActiveLayout)
{
    const LayoutCase& layout = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(loadLayouts(layout.layouts));
    ASSERT_NO_FATAL_FAILURE(lockGroup(layout.group));
    const QString text = QString::fromUtf8(layout.text);
    if (const std::optional<Switch> during = layout.during)
        watch(textLine + text.left(during->after), [during] {
            if (during->layouts)
                loadLayouts(during->layouts);
            lockGroup(during->group);
        });

    EXPECT_EQ(typeText(text), QStringLiteral("Typed it."));
    EXPECT_TRUE(until(textLine + text)) << seen.join(QLatin1Char('\n')).toStdString();
    EXPECT_FALSE(watching) << "the layout never changed during the typing";
    const QStringList typed = seen.filter(QRegularExpression(QLatin1Char('^') + textLine.trimmed()));
    ASSERT_FALSE(typed.isEmpty());
    EXPECT_EQ(typed.back().toStdString(), (textLine + text).toStdString());
}

// A shortcut names the letter the active layout gives it ("ctrl+z" is undo, not the "ctrl+y" of
// the key that is "z" in US), and on a layout without that letter the key that has it in another.
class ShortcutsOnDisplay : public KeyboardLayoutsOnDisplay {};

TEST_P(ShortcutsOnDisplay, AShortcutIsTheLetterItNames)
{
    const LayoutCase& layout = std::get<1>(GetParam());
    ASSERT_NO_FATAL_FAILURE(loadLayouts(layout.layouts));
    ASSERT_NO_FATAL_FAILURE(lockGroup(layout.group));
    EXPECT_EQ(typeText(QStringLiteral("ab")), QStringLiteral("Typed it."));
    ASSERT_TRUE(until(QStringLiteral("TEXT ab"))) << seen.join(QLatin1Char('\n')).toStdString();
    const QString pressed = call(QStringLiteral("press_keys"), QStringLiteral("keys"), QStringLiteral("ctrl+z"));
    EXPECT_TRUE(pressed.startsWith(QStringLiteral("Pressed ctrl+z.\n"))) << pressed.toStdString();
    // Undone: the field is empty again.
    EXPECT_TRUE(until(QStringLiteral("TEXT"))) << seen.join(QLatin1Char('\n')).toStdString();
}

// Characters that sit on other keys, or on no key, in one layout than in another: "y" and "z"
// swap between US and German, "-/;" move, the umlauts and "@€" are on no key of US and need AltGr
// in German, "a", "q" and "m" move in French.
INSTANTIATE_TEST_SUITE_P(
    Layouts, KeyboardLayoutsOnDisplay,
    ::testing::Combine(
        ::testing::Values(Toolkit::qt, Toolkit::gtk),
        ::testing::Values(
            LayoutCase {"SecondOfTwo", "us,de", 1, "yz-/;", {}},
            LayoutCase {"SecondOfTwoOffLayout", "us,de", 1, "äöü@€yz", {}},
            LayoutCase {"ThirdOfThree", "us,de,fr", 2, "yz-/;äöü@€amq", {}},
            LayoutCase {"FirstToSecondWhileTyping", "us,de", 0, "yz-/;äöü@€", Switch {2, nullptr, 1}},
            LayoutCase {"SecondToFirstWhileTyping", "us,de", 1, "yz-/;äöü@€", Switch {3, nullptr, 0}},
            LayoutCase {"SecondToThirdWhileTyping", "us,de,fr", 1, "yz-/;amqäöü@€", Switch {2, nullptr, 2}},
            LayoutCase {"NewLayoutsWhileTyping", "us,de", 1, "yz-/;amqäöü@€", Switch {2, "fr,us,de", 0}})),
    nameOf);

// GTK's entry has no undo: the Qt window only.
INSTANTIATE_TEST_SUITE_P(Layouts, ShortcutsOnDisplay,
                         ::testing::Combine(::testing::Values(Toolkit::qt),
                                            ::testing::Values(LayoutCase {"German", "us,de", 1, "", {}},
                                                              LayoutCase {"Russian", "us,ru", 1, "", {}})),
                         nameOf);

} // namespace
