#include <gtest/gtest.h>

#include <QMap>
#include <QProcess>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ScreenReader.h"
#include "Tovrick/screen/XTestInput.h"
#include "assistant/PointingFakes.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace {

// The assistant's tools on the run's display, with the reporting window of the screen tests.
class ComputerActionsOnDisplay : public ::testing::Test {
protected:
    void SetUp() override
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (onBus) {
            env.insert(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"), QStringLiteral("1"));
        } else {
            // No session bus, so no accessibility bus either: nothing can tell what its fields are.
            env.remove(QStringLiteral("QT_LINUX_ACCESSIBILITY_ALWAYS_ON"));
            env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("disabled:"));
            env.insert(QStringLiteral("AT_SPI_BUS_ADDRESS"), QStringLiteral("disabled:"));
        }
        window.setProcessEnvironment(env);
        window.start(QStringLiteral(INPUT_TEST_WINDOW), {});
        ASSERT_TRUE(until(QStringLiteral("READY"), std::chrono::seconds(15)));
        for (const QString& line : std::as_const(seen)) {
            const QStringList parts = line.split(QLatin1Char(' '));
            if (parts[0] == QLatin1String("WINDOW"))
                id = parts.value(1).toULongLong();
            if (parts[0] == QLatin1String("CONTROL"))
                controls[parts[1]] = QRectF(parts[2].toDouble(), parts[3].toDouble(), parts[4].toDouble(), parts[5].toDouble());
        }
        pad = controls.value(QStringLiteral("pad"));
        activate(id);
        actions = std::make_unique<ComputerActions>(world.pointing, desktopPorts(control));
    }
    void TearDown() override
    {
        activate(0);
        window.kill();
        window.waitForFinished(3000);
    }

    // Reads the window's lines until `line` comes.
    bool until(const QString& line, std::chrono::milliseconds timeout = std::chrono::seconds(20))
    {
        bool found = false;
        waitUntil(
            [&] {
                while (!found && window.canReadLine()) {
                    seen << QString::fromUtf8(window.readLine()).trimmed();
                    found = seen.back() == line;
                }
                return found;
            },
            timeout);
        return found;
    }
    void focus(const char* field)
    {
        window.write(QByteArray("FOCUS ") + field + '\n');
        ASSERT_TRUE(until(QStringLiteral("DONE")));
    }
    ToolResult call(const char* name, const QString& arguments)
    {
        return runTask(actions->handle(QString::fromLatin1(name), toolargs::parse(arguments), {}), std::chrono::seconds(30));
    }

    bool onBus = true;
    QProcess window;
    QStringList seen;
    quint64 id = 0;
    QRectF pad;
    // Where the window's parts are, in root pixels (the display's points here).
    QMap<QString, QRectF> controls;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

TEST_F(ComputerActionsOnDisplay, APasswordFieldRefusesTypingAndAPlainOneGetsTheTextAndReturn)
{
    focus("password");
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "hunter2"})")).text,
              QStringLiteral("That's a password field. Ask the user to type it themselves."));

    focus("text");
    const ToolResult typed = call("type_text", QStringLiteral(R"({"text": "Olé", "press_return": true})"));
    EXPECT_TRUE(typed.text.startsWith(QStringLiteral("Typed it and pressed Return.\n"))) << typed.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("TEXT Olé")));
    EXPECT_TRUE(until(QStringLiteral("RETURN")));

    // A tab takes the focus to the password field: the typing stops there, before the secret.
    focus("text");
    const ToolResult tabbed = call("type_text", QStringLiteral(R"({"text": "alice\thunter2"})"));
    EXPECT_EQ(tabbed.text, QStringLiteral("I typed 6 of 13 characters, then stopped. The focus moved to another "
                                          "field. That's a password field. Ask the user to type it themselves."));
    EXPECT_TRUE(until(QStringLiteral("TEXT Oléalice")));
    focus("text");
    EXPECT_TRUE(seen.filter(QStringLiteral("SECRET")).isEmpty()) << seen.join(QLatin1Char('\n')).toStdString();

    // Nothing answers for the focused field without an active window: no typing blind.
    activate(0);
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "x"})")).text, ComputerActions::couldNotCheckField());
}

TEST_F(ComputerActionsOnDisplay, AClickReachesTheWindowAndThePointerGoesBack)
{
    control.input().warp(QPointF(1700, 1000));
    const QPointF middle = pad.center();
    const QString arguments = QStringLiteral(R"({"x": %1, "y": %2, "right": true})")
                                  .arg(middle.x() * 1000.0 / 1920.0, 0, 'f', 4)
                                  .arg(middle.y() * 1000.0 / 1080.0, 0, 'f', 4);
    const ToolResult result = call("click", arguments);
    EXPECT_TRUE(result.text.startsWith(QStringLiteral("Right-clicked there.\n"))) << result.text.toStdString();
    EXPECT_TRUE(until(QStringLiteral("PRESS right %1 %2").arg(qRound(middle.x())).arg(qRound(middle.y()))));
    EXPECT_EQ(control.input().pointer(), QPointF(1700, 1000));
}

// The same window kept off the accessibility bus, as an application without its bridge is.
class ComputerActionsOffTheBus : public ComputerActionsOnDisplay {
protected:
    ComputerActionsOffTheBus() { onBus = false; }
};

TEST_F(ComputerActionsOffTheBus, KeysThatMayPutTextInGoNowhereTheCheckCannotJudge)
{
    focus("password");
    ASSERT_FALSE(runTask(ControlsReader::focusedFieldIsSecure(), std::chrono::seconds(30)).checked)
        << "the window is on the accessibility bus";
    // An Alt combination nothing is bound to types its letter; the menu key opens a menu whose
    // Paste the next keys pick.
    for (const char* keys : {"alt+h", "alt+shift+h", "option+u", "shift+f10", "menu"}) {
        SCOPED_TRACE(keys);
        EXPECT_EQ(call("press_keys", QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(keys))).text,
                  ComputerActions::couldNotCheckField());
    }
    for (const char* keys : {"down", "return"}) {
        SCOPED_TRACE(keys);
        const ToolResult pressed = call("press_keys", QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(keys)));
        EXPECT_TRUE(pressed.text.startsWith(QStringLiteral("Pressed "))) << pressed.text.toStdString();
    }
    focus("password");
    EXPECT_TRUE(seen.filter(QStringLiteral("SECRET")).isEmpty()) << seen.join(QLatin1Char('\n')).toStdString();
}

TEST_F(ComputerActionsOffTheBus, NoDragWhoseDropNothingCanJudgeCarriesTextIntoAPasswordField)
{
    window.write("SELECT hunter2\n");
    ASSERT_TRUE(until(QStringLiteral("DONE")));
    const QRectF text = controls.value(QStringLiteral("text"));
    const QRectF password = controls.value(QStringLiteral("password"));
    ASSERT_FALSE(text.isEmpty() || password.isEmpty());
    const auto grid = [](const char* end, QPointF at) {
        return QStringLiteral(R"("%1_x": %2, "%1_y": %3)")
            .arg(QLatin1String(end))
            .arg(at.x() * 1000.0 / 1920.0, 0, 'f', 4)
            .arg(at.y() * 1000.0 / 1080.0, 0, 'f', 4);
    };
    // From the selected word, and from the pad: neither can be told, nor can the drop.
    for (const QPointF from : {QPointF(text.left() + 14, text.center().y()), pad.center()}) {
        const QString arguments = QLatin1Char('{') + grid("from", from) + QStringLiteral(", ")
            + grid("to", password.center()) + QLatin1Char('}');
        EXPECT_EQ(call("drag", arguments).text, ComputerActions::couldNotCheckDrop()) << arguments.toStdString();
    }
    focus("password");
    EXPECT_TRUE(seen.filter(QStringLiteral("SECRET")).isEmpty()) << seen.join(QLatin1Char('\n')).toStdString();
}

} // namespace
