#include "Tovrick/screen/AppOpener.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/KeyCombination.h"
#include "Tovrick/screen/XTestInput.h"

#include "support/RunTask.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {

// The window manager's part on a bare server: the client list, the active window and the focus.
// No window (0) is no active window and no focus; the list stays unless `listed` is false.
void manage(quint64 id, bool listed = true)
{
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Window root = DefaultRootWindow(display);
    const Window window = static_cast<Window>(id);
    const Atom list = XInternAtom(display, "_NET_CLIENT_LIST", False);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    if (id && listed)
        XChangeProperty(display, root, list, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
    else if (!listed)
        XDeleteProperty(display, root, list);
    if (id) {
        XChangeProperty(display, root, active, XA_WINDOW, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(&window), 1);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
    } else {
        XDeleteProperty(display, root, active);
        XSetInputFocus(display, PointerRoot, RevertToPointerRoot, CurrentTime);
    }
    XSync(display, False);
    XCloseDisplay(display);
}

Window inputFocus()
{
    Display* display = XOpenDisplay(nullptr);
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    XCloseDisplay(display);
    return focus;
}

// The reporting window, run as a process of its own with its accessibility tree served.
struct InputWindow {
    InputWindow()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(INPUT_TEST_WINDOW), {});
        if (!next([](const QString& line) { return line == QLatin1String("READY"); }, std::chrono::seconds(15)))
            return;
        for (const QString& line : std::as_const(lines)) {
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts[0] == QLatin1String("WINDOW"))
                window = parts.value(1).toULongLong();
            if (parts[0] == QLatin1String("CONTROL") && parts.size() == 6)
                controls.insert(parts[1], QRectF(parts[2].toDouble(), parts[3].toDouble(), parts[4].toDouble(),
                                                 parts[5].toDouble()));
        }
        lines.clear();
        manage(window);
    }
    ~InputWindow()
    {
        manage(0, false);
        process.kill();
        process.waitForFinished(3000);
    }

    // Reads event lines until one satisfies `wanted`; the lines read stay in `lines`.
    template <typename Wanted>
    bool next(Wanted wanted, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        bool found = false;
        waitUntil(
            [&] {
                while (!found && process.canReadLine()) {
                    lines << QString::fromUtf8(process.readLine()).trimmed();
                    found = wanted(lines.back());
                }
                return found;
            },
            timeout);
        return found;
    }
    std::string why() { return (lines.join(QLatin1Char('\n')) + QLatin1Char('\n') + QString::fromUtf8(process.readAllStandardError())).toStdString(); }
    bool nextIs(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(5))
    {
        return next([&](const QString& got) { return got == line; }, timeout);
    }
    void focus(const char* field)
    {
        process.write(QByteArray("FOCUS ") + field + '\n');
        EXPECT_TRUE(nextIs(QStringLiteral("DONE")));
    }
    QString at(const char* kind, const char* button, QPointF point) const
    {
        return QStringLiteral("%1 %2 %3 %4")
            .arg(QLatin1String(kind), QLatin1String(button))
            .arg(qRound(point.x()))
            .arg(qRound(point.y()));
    }

    QProcess process;
    quint64 window = 0;
    QHash<QString, QRectF> controls;
    QStringList lines;
};

TEST(ComputerControlOnDisplay, ClicksScrollsAndDragsReachTheWindowAndThePointerGoesBack)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    ComputerControl control;
    ASSERT_TRUE(control.input().available());
    const QRectF pad = window.controls.value(QStringLiteral("pad"));
    const QPointF middle = pad.center();

    control.input().warp(QPointF(1500, 900));
    const std::optional<QPointF> before = control.input().pointer();
    ASSERT_TRUE(before);
    EXPECT_EQ(*before, QPointF(1500, 900));

    runTask(control.click(middle, false, 1));
    EXPECT_TRUE(window.nextIs(window.at("PRESS", "left", middle)));
    EXPECT_TRUE(window.nextIs(window.at("RELEASE", "left", middle)));

    const QPointF other = middle + QPointF(40, 30);
    runTask(control.click(other, true, 1));
    EXPECT_TRUE(window.nextIs(window.at("PRESS", "right", other)));
    EXPECT_TRUE(window.nextIs(window.at("RELEASE", "right", other)));

    // Far from the last click, so the first of the pair is no double click of its own.
    const QPointF third = middle - QPointF(80, 60);
    runTask(control.click(third, false, 2));
    EXPECT_TRUE(window.nextIs(window.at("DOUBLE", "left", third))) << window.lines.join(QLatin1Char('\n')).toStdString();

    runTask(control.scroll(middle, 0, 360));
    int down = 0;
    EXPECT_TRUE(window.next([&](const QString& line) {
        if (line == QLatin1String("WHEEL 0 -120"))
            ++down;
        return down == 3;
    }));
    runTask(control.scroll(middle, -240, 0));
    int sideways = 0;
    EXPECT_TRUE(window.next([&](const QString& line) {
        if (line.startsWith(QLatin1String("WHEEL ")) && line.endsWith(QLatin1String(" 0")))
            ++sideways;
        return sideways == 2;
    }));

    // A drag: press, moves with the button held, release at the end.
    const QPointF from = pad.topLeft() + QPointF(30, 30);
    const QPointF to = pad.bottomRight() - QPointF(30, 30);
    SyntheticInput& input = control.input();
    input.move(from);
    input.button(SyntheticInput::Button::left, true);
    for (int step = 1; step <= 5; ++step)
        input.move(from + (to - from) * step / 5.0);
    input.button(SyntheticInput::Button::left, false);
    EXPECT_TRUE(window.nextIs(window.at("PRESS", "left", from)));
    EXPECT_TRUE(window.nextIs(QStringLiteral("MOVE %1 %2").arg(qRound(to.x())).arg(qRound(to.y()))));
    EXPECT_TRUE(window.nextIs(window.at("RELEASE", "left", to)));

    input.warp(*before);
    EXPECT_EQ(control.input().pointer(), before);
}

TEST(ComputerControlOnDisplay, TypingReachesTheFieldWithLettersOffTheLayoutAndReturnIsPressed)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    window.focus("text");
    ComputerControl control;
    QStringList popped;
    const QString typed = QStringLiteral("Hé ß Ω 7!");
    ComputerControl::Typing typing;
    typing.pop = [&](const QString& character) { popped << character; };
    const ComputerControl::Typed done = runTask(control.typeText(typed, std::move(typing)));
    EXPECT_EQ(done.end, ComputerControl::Gate::posted);
    EXPECT_EQ(done.characters, typed.size());
    EXPECT_TRUE(window.nextIs(QStringLiteral("TEXT ") + typed)) << window.lines.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(popped.join(QString()), typed);

    const auto press = [&](const char* keys) {
        return runTask(control.press(ComputerControl::combination(QString::fromLatin1(keys))));
    };
    EXPECT_EQ(press("return"), ComputerControl::Gate::posted);
    EXPECT_EQ(ComputerControl::combination(QStringLiteral("return")).label, QStringLiteral("Enter"));
    EXPECT_TRUE(window.nextIs(QStringLiteral("RETURN")));
    // Select all and delete: the modifiers are held around the key.
    press("cmd+a");
    press("delete");
    EXPECT_TRUE(window.nextIs(QStringLiteral("TEXT")));

    // The keys borrowed for letters off the layout are given back.
    QThread::msleep(XTestInput::kSpareKeyHoldMs + 200);
    QCoreApplication::processEvents();
    waitUntil([] { return false; }, std::chrono::milliseconds(100));
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    for (char32_t offTheLayout : {U'é', U'ß', U'Ω'})
        EXPECT_EQ(XKeysymToKeycode(display, KeyCombination::keysymForCharacter(offTheLayout)), 0);
    XCloseDisplay(display);
}

// A letter's spare key read back with a layout change elsewhere, then given back, is no key of it.
TEST(ComputerControlOnDisplay, ALetterTypedAgainAfterItsSpareKeyWasGivenBackArrives)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    window.focus("text");
    ComputerControl control;
    Display* display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const unsigned long accented = KeyCombination::keysymForCharacter(U'é');
    ASSERT_EQ(runTask(control.typeText(QStringLiteral("é"), {})).end, ComputerControl::Gate::posted);
    ASSERT_TRUE(window.nextIs(QStringLiteral("TEXT é"))) << window.why();
    // The same symbols again on the key of "a": a change of the layout outside the spare keys,
    // which the next key reads while "é" still has its key.
    const KeyCode a = XKeysymToKeycode(display, XK_a);
    int width = 0;
    KeySym* syms = XGetKeyboardMapping(display, a, 1, &width);
    ASSERT_NE(syms, nullptr);
    XChangeKeyboardMapping(display, a, width, syms, 1);
    XFree(syms);
    XSync(display, False);
    ASSERT_EQ(runTask(control.typeText(QStringLiteral("a"), {})).end, ComputerControl::Gate::posted);
    ASSERT_TRUE(window.nextIs(QStringLiteral("TEXT éa"))) << window.why();
    ASSERT_TRUE(waitUntil(
        [&] {
            QCoreApplication::processEvents();
            XSync(display, False);
            return XKeysymToKeycode(display, accented) == 0;
        },
        std::chrono::seconds(10)))
        << "the spare key was not given back";
    XCloseDisplay(display);
    ASSERT_EQ(runTask(control.typeText(QStringLiteral("é"), {})).end, ComputerControl::Gate::posted);
    EXPECT_TRUE(window.nextIs(QStringLiteral("TEXT éaé"))) << window.why();
}

TEST(ComputerControlOnDisplay, CharactersOfMoreMarksThanSpareKeysComeOutWhole)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    window.focus("text");
    // Forty marks a letter, each off the layout: more than the keys a server leaves spare.
    QString marked = QStringLiteral("a");
    for (char16_t mark = 0x0300; mark < 0x0300 + 40; ++mark)
        marked += QChar(mark);
    const QString typed = marked + QStringLiteral("b") + marked;
    ComputerControl control;
    const ComputerControl::Typed done = runTask(control.typeText(typed, {}), std::chrono::seconds(120));
    EXPECT_EQ(done.end, ComputerControl::Gate::posted);
    EXPECT_EQ(done.characters, 3);
    EXPECT_TRUE(window.nextIs(QStringLiteral("TEXT ") + typed, std::chrono::seconds(30)))
        << window.why();
}

TEST(ComputerControlOnDisplay, TheFocusedFieldIsSecureCheckedOrUnknown)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    window.focus("password");
    const ControlsReader::FocusedField password = runTask(ControlsReader::focusedFieldIsSecure());
    EXPECT_TRUE(password.checked);
    EXPECT_TRUE(password.secure);

    window.focus("text");
    const ControlsReader::FocusedField text = runTask(ControlsReader::focusedFieldIsSecure());
    EXPECT_TRUE(text.checked);
    EXPECT_FALSE(text.secure);
    ASSERT_TRUE(text.frame);
    EXPECT_NEAR(text.frame->x(), window.controls.value(QStringLiteral("text")).x(), 2.0);

    // The window is active but nothing in it has the focus: a walk that finds no focused element
    // cannot say where the text would go.
    window.focus("none");
    const ControlsReader::FocusedField unfocused = runTask(ControlsReader::focusedFieldIsSecure());
    EXPECT_FALSE(unfocused.checked);
    EXPECT_FALSE(unfocused.secure);

    // No active window: nothing can say where the text would go.
    manage(0);
    const ControlsReader::FocusedField nowhere = runTask(ControlsReader::focusedFieldIsSecure());
    EXPECT_FALSE(nowhere.checked);
    EXPECT_FALSE(nowhere.secure);
}

// An application that stops answering (stopped here) leaves the check unable to tell, by the
// check's own bound; once it answers again, the check tells again.
TEST(ComputerControlOnDisplay, AHungApplicationIsNotCheckedAndTheSameOneAnsweringAgainIs)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    window.focus("text");
    ASSERT_TRUE(runTask(ControlsReader::focusedFieldIsSecure()).checked);
    const pid_t pid = static_cast<pid_t>(window.process.processId());
    ASSERT_EQ(::kill(pid, SIGSTOP), 0);
    const ControlsReader::FocusedField hung
        = runTask(ControlsReader::focusedFieldIsSecure(), ControlsReader::kFieldCheckBound + std::chrono::seconds(2));
    ::kill(pid, SIGCONT);
    EXPECT_FALSE(hung.checked);
    EXPECT_FALSE(hung.secure);
    const ControlsReader::FocusedField again = runTask(ControlsReader::focusedFieldIsSecure());
    EXPECT_TRUE(again.checked);
    EXPECT_TRUE(again.editable);
}

TEST(ComputerControlOnDisplay, OpensARunningWindowOrADesktopEntry)
{
    InputWindow window;
    ASSERT_NE(window.window, 0u) << "the input window did not start: " << window.why();
    manage(0); // listed, but neither active nor focused
    ComputerControl control;
    EXPECT_EQ(runTask(control.openApp(QStringLiteral("input probe"))), QStringLiteral("Switched to input probe."));
    EXPECT_EQ(inputFocus(), static_cast<Window>(window.window));

    QTemporaryDir home;
    ASSERT_TRUE(home.isValid());
    const QString applications = home.filePath(QStringLiteral("data/applications/sub"));
    ASSERT_TRUE(QDir().mkpath(applications));
    const QString made = home.filePath(QStringLiteral("made it"));
    const auto entry = [&](const char* file, const QString& body) {
        QFile out(applications + QLatin1Char('/') + QLatin1String(file));
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(body.toUtf8());
    };
    entry("marker.desktop", QStringLiteral("[Desktop Entry]\nType=Application\nName=Marker Maker\nExec=touch \"%1\" %U\n")
                                .arg(made));
    entry("broken.desktop", QStringLiteral("[Desktop Entry]\nType=Application\nName=Broken\nExec=/nowhere/at/all\n"));
    entry("hidden.desktop", QStringLiteral("[Desktop Entry]\nType=Application\nName=Ghost\nHidden=true\nExec=true\n"));
    const QByteArray savedHome = qgetenv("XDG_DATA_HOME");
    const QByteArray savedDirs = qgetenv("XDG_DATA_DIRS");
    qputenv("XDG_DATA_HOME", home.filePath(QStringLiteral("data")).toUtf8());
    qputenv("XDG_DATA_DIRS", home.filePath(QStringLiteral("none")).toUtf8());

    EXPECT_EQ(runTask(control.openApp(QStringLiteral("marker maker"))), QStringLiteral("Opened Marker Maker."));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(made); }));
    EXPECT_EQ(runTask(control.openApp(QStringLiteral("marker"))), QStringLiteral("Opened Marker Maker."));
    EXPECT_EQ(runTask(control.openApp(QStringLiteral("Broken"))), QStringLiteral("I couldn't open Broken."));
    EXPECT_EQ(runTask(control.openApp(QStringLiteral("Ghost"))), QStringLiteral("I couldn't find an app called Ghost."));

    qputenv("XDG_DATA_HOME", savedHome);
    qputenv("XDG_DATA_DIRS", savedDirs);
}

TEST(DesktopEntries, ExecLinesAreSplitAndFilledIn)
{
    const struct {
        const char* exec;
        QStringList expected;
    } cases[] = {
        {"editor %F", {QStringLiteral("editor")}},
        {"sh -c \"echo \\\"two words\\\" 100%%\"", {QStringLiteral("sh"), QStringLiteral("-c"), QStringLiteral("echo \"two words\" 100%")}},
        {"viewer --name=%c %i %k", {QStringLiteral("viewer"), QStringLiteral("--name=Viewer"), QStringLiteral("--icon"),
                                    QStringLiteral("viewer-icon"), QStringLiteral("/apps/viewer.desktop")}},
        {"\"/opt/my app/run\"  --flag", {QStringLiteral("/opt/my app/run"), QStringLiteral("--flag")}},
        {"broken \"quote", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.exec);
        const appopener::DesktopEntry entry {QStringLiteral("/apps/viewer.desktop"), QStringLiteral("Viewer"),
                                             QString::fromUtf8(c.exec), QStringLiteral("viewer-icon"), QString()};
        EXPECT_EQ(appopener::commandLine(entry), c.expected);
    }
}

} // namespace
