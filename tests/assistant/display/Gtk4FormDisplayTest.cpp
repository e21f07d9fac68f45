#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "Tovrick/screen/X11Display.h"
#include "assistant/PointingFakes.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>

namespace {

// The GTK 4 form at the scale the test is given, moved off the display's corner (GTK 4 tells
// where its controls are inside its window only), with the real look, input and field checks.
class Gtk4FormOnDisplay : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(show());
        ControlsReader::setWalkBudget(std::chrono::seconds(20));
        actions = std::make_unique<ComputerActions>(world.pointing, desktopPorts(control));
    }
    void TearDown() override
    {
        ControlsReader::setWalkBudget(ControlsReader::kWalkBudget);
        activate(0);
        gtk4.stop();
    }

    void show()
    {
        ASSERT_TRUE(gtk4.start(GetParam())) << gtk4.seen.join('\n').toStdString();
        window = gtk4.window;
        Display* display = XOpenDisplay(nullptr);
        ASSERT_NE(display, nullptr);
        XMoveWindow(display, static_cast<Window>(window), 300, 200);
        XSync(display, False);
        XCloseDisplay(display);
        ASSERT_TRUE(waitUntil([&] { return client().topLeft() == QPoint(300, 200); })) << "the form never moved";
        activate(window);
    }
    // A fresh form, whose fields nobody has judged yet.
    void showAnew()
    {
        activate(0);
        gtk4.stop();
        // A loaded machine may not have told yet that the old one ended.
        ASSERT_TRUE(waitUntil([&] { return gtk4.process.state() == QProcess::NotRunning; }, std::chrono::seconds(30)));
        gtk4.seen.clear();
        show();
    }

    QRect client()
    {
        for (const X11Display::PlacedWindow& each : X11Display().windowsOf(gtk4.process.processId()))
            if (each.id == window)
                return each.client;
        return {};
    }
    // The form's controls once the look lists all four fields; empty when it never does.
    QList<ControlsReader::Control> fields()
    {
        const qint64 pid = gtk4.process.processId();
        QList<ControlsReader::Control> found;
        readControlsUntil(
            pid,
            [&](const ControlsReader::Reading& reading) {
                found = reading.controls;
                return std::ranges::all_of(std::initializer_list<const char*> {"Name", "Secret", "Hidden", "Notes"},
                                           [&](const char* label) { return find(found, label).has_value(); });
            },
            std::chrono::seconds(40));
        return found;
    }
    static std::optional<ControlsReader::Control> find(const QList<ControlsReader::Control>& controls, const char* label)
    {
        for (const ControlsReader::Control& each : controls)
            if (each.label == QLatin1String(label))
                return each;
        return std::nullopt;
    }
    QString call(const QString& tool, const QString& key, const QString& value)
    {
        const QString arguments =
            QString::fromUtf8(QJsonDocument(QJsonObject {{key, value}}).toJson(QJsonDocument::Compact));
        auto acting = actions->handle(tool, toolargs::parse(arguments), {});
        return runTask(std::move(acting), std::chrono::seconds(60)).text;
    }
    // Waits until the focused-field check sees the field the form just focused.
    bool checkSees(bool secure)
    {
        return waitUntil(
            [secure] {
                auto checking = ControlsReader::focusedFieldIsSecure();
                const ControlsReader::FocusedField field = runTask(std::move(checking), std::chrono::seconds(60));
                return field.checked && field.secure == secure && (secure || field.editable);
            },
            std::chrono::seconds(40));
    }

    Gtk4Form gtk4;
    quint64 window = 0;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

// The look lists the four fields, the password entry as one, each where a click on it lands.
TEST_P(Gtk4FormOnDisplay, TheLookListsTheFieldsWhereTheyAre)
{
    const QList<ControlsReader::Control> controls = fields();
    ASSERT_TRUE(find(controls, "Notes")) << "the form's fields were never listed";
    EXPECT_EQ(find(controls, "Name")->kind.toStdString(), "textfield");
    EXPECT_EQ(find(controls, "Secret")->kind.toStdString(), "password");
    EXPECT_EQ(find(controls, "Notes")->kind.toStdString(), "textfield");
    const QRect area = client();
    qreal above = area.top();
    for (const char* label : {"Name", "Secret", "Hidden", "Notes"}) {
        const QRectF rect = find(controls, label)->rect;
        EXPECT_TRUE(QRectF(area).contains(rect)) << label;
        EXPECT_GT(rect.top(), above) << label;
        above = rect.top();
    }
    for (const char* label : {"Notes", "Name"}) {
        auto clicking = control.click(find(controls, label)->rect.center(), false, 1);
        runTask(std::move(clicking), std::chrono::seconds(10));
        EXPECT_TRUE(gtk4.until(QStringLiteral("FOCUS ") + QLatin1String(label))) << label << "\n"
                                                                           << gtk4.seen.join('\n').toStdString();
    }
}

// An entry that hides what it holds tells the bus no more than a plain one, except in the text it
// lays out: holding text, it gets neither typing nor a paste, like the password entry.
TEST_P(Gtk4FormOnDisplay, AnEntryThatHidesTheTextItHoldsGetsNoText)
{
    ASSERT_TRUE(gtk4.command(QStringLiteral("CLIP pasted")));
    for (const char* field : {"Hidden", "Secret"}) {
        ASSERT_TRUE(gtk4.command(QStringLiteral("SELECT %1 1234").arg(QLatin1String(field))));
        ASSERT_TRUE(checkSees(true)) << field << " never showed as a password field";
        EXPECT_EQ(call(QStringLiteral("type_text"), QStringLiteral("text"), QStringLiteral("x")),
                  ComputerActions::passwordField())
            << field;
        EXPECT_TRUE(call(QStringLiteral("press_keys"), QStringLiteral("keys"), QStringLiteral("ctrl+v"))
                        .startsWith(ComputerActions::passwordField()))
            << field;
        ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
        const QString last = gtk4.seen.filter(QStringLiteral("TEXT %1").arg(QLatin1String(field))).last();
        EXPECT_EQ(last.toStdString(), QStringLiteral("TEXT %1 1234").arg(QLatin1String(field)).toStdString());
    }
}

// Typing into `field` that hid its text meanwhile: the typing stopped within a key or two of the
// hiding, and the answer says why.
void expectStoppedAtTheHiding(const Gtk4Form& gtk4, const char* field, const QString& answer)
{
    const QString told = QStringLiteral("TEXT %1").arg(QLatin1String(field));
    const qsizetype hid = gtk4.seen.indexOf(QStringLiteral("HIDDEN %1").arg(QLatin1String(field)));
    ASSERT_GE(hid, 0) << "the field never hid its text\n" << gtk4.seen.join('\n').toStdString();
    const QStringList before = gtk4.seen.mid(0, hid).filter(told);
    const QStringList all = gtk4.seen.filter(told);
    // The line is trimmed: a field that holds nothing says only its name.
    const qsizetype held = before.isEmpty() ? 0 : before.last().mid(told.size() + 1).size();
    ASSERT_FALSE(all.isEmpty());
    EXPECT_LE(all.last().mid(told.size() + 1).size(), held + 2) << gtk4.seen.join('\n').toStdString();
    EXPECT_TRUE(answer.startsWith(QLatin1String("I typed "))) << answer.toStdString();
    EXPECT_TRUE(answer.endsWith(QStringLiteral("The field turned into a password field. ") + ComputerActions::passwordField()))
        << answer.toStdString();
}

// Nothing on the bus tells when a GTK 4 entry starts to hide its text: the keys stop within a key or
// two of it, in a field that hides while the text goes in and in one that asks for the password
// after a Return, emptied and hidden a moment later.
TEST_P(Gtk4FormOnDisplay, TypingStopsWhenTheEntryStartsToHideItsText)
{
    const QString line = QStringLiteral("the quick brown fox jumps over the lazy dog and keeps on running");
    ASSERT_TRUE(gtk4.command(QStringLiteral("FOCUS Name")));
    ASSERT_TRUE(checkSees(false));
    ASSERT_TRUE(gtk4.command(QStringLiteral("HIDE Name 250")));
    const QString hiding = call(QStringLiteral("type_text"), QStringLiteral("text"), line);
    ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
    expectStoppedAtTheHiding(gtk4, "Name", hiding);

    ASSERT_NO_FATAL_FAILURE(showAnew());
    ASSERT_TRUE(gtk4.command(QStringLiteral("TWOSTEP Name")));
    ASSERT_TRUE(gtk4.command(QStringLiteral("FOCUS Name")));
    ASSERT_TRUE(checkSees(false));
    const QString signingIn = call(QStringLiteral("type_text"), QStringLiteral("text"), QStringLiteral("alice\n") + line);
    ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
    expectStoppedAtTheHiding(gtk4, "Name", signingIn);
}

// An entry that hides its text behind the character its text begins with is still judged by the
// rest of it; text of mask characters only, shown as held, could be either and gets nothing.
TEST_P(Gtk4FormOnDisplay, TheMaskIsJudgedByTheWholeText)
{
    const struct {
        const char* field;
        const char* mask;
        const char* text;
        QString refusal;
    } cases[] = {
        {"Hidden", nullptr, "●1234", ComputerActions::passwordField()},
        {"Hidden", "*", "*1234", ComputerActions::passwordField()},
        {"Name", nullptr, "●●●●", ComputerActions::couldNotCheckField()},
    };
    bool first = true;
    for (const auto& each : cases) {
        const QString field = QLatin1String(each.field);
        const QString text = QString::fromUtf8(each.text);
        // A field once seen as a password field stays one: each case on a form of its own.
        if (!std::exchange(first, false)) {
            ASSERT_NO_FATAL_FAILURE(showAnew());
        }
        if (each.mask) {
            ASSERT_TRUE(gtk4.command(QStringLiteral("MASK %1 %2").arg(field, QLatin1String(each.mask))));
        }
        const bool hides = field == QLatin1String("Hidden");
        // The check sees the field first: the refusal is then the judgement's, not a focus not yet told.
        ASSERT_TRUE(gtk4.command(QStringLiteral("SELECT %1 %2").arg(field, hides ? text : QStringLiteral("abc"))));
        ASSERT_TRUE(checkSees(hides)) << each.text;
        ASSERT_TRUE(gtk4.command(QStringLiteral("SELECT %1 %2").arg(field, text)));
        EXPECT_EQ(call(QStringLiteral("type_text"), QStringLiteral("text"), QStringLiteral("x")), each.refusal)
            << each.text;
        EXPECT_TRUE(call(QStringLiteral("press_keys"), QStringLiteral("keys"), QStringLiteral("h")).startsWith(each.refusal))
            << each.text;
        ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
        const QString told = QStringLiteral("TEXT %1 %2").arg(field, text);
        EXPECT_EQ(gtk4.seen.filter(QStringLiteral("TEXT %1").arg(field)).last().toStdString(), told.toStdString());
    }
}

// An entry that drops what it does not take (digits only here) and tells nothing of it, typed into
// for the first time: the answer says what it took, and never that it took it all.
TEST_P(Gtk4FormOnDisplay, WhatAnEntryTookIsSaidTheFirstTimeToo)
{
    const struct {
        const char* text;
        const char* took;
        const char* answer;
    } cases[] = {
        {"abc123", "123", "I typed all 6 characters, but the field took only 3 of them."},
        {"a1b2", "12", "I typed all 4 characters, but the field took only 2 of them."},
    };
    bool first = true;
    for (const auto& each : cases) {
        SCOPED_TRACE(each.text);
        // A fresh form each time, whose entry nobody has typed into.
        if (!std::exchange(first, false)) {
            ASSERT_NO_FATAL_FAILURE(showAnew());
        }
        ASSERT_TRUE(gtk4.command(QStringLiteral("DIGITS Name")));
        ASSERT_TRUE(gtk4.command(QStringLiteral("FOCUS Name")));
        ASSERT_TRUE(checkSees(false));
        EXPECT_EQ(call(QStringLiteral("type_text"), QStringLiteral("text"), QLatin1String(each.text)).toStdString(),
                  each.answer);
        ASSERT_TRUE(gtk4.command(QStringLiteral("PING")));
        const QStringList told = gtk4.seen.filter(QStringLiteral("TEXT Name"));
        ASSERT_FALSE(told.isEmpty());
        EXPECT_EQ(told.last().toStdString(), std::string("TEXT Name ") + each.took);
    }
}

INSTANTIATE_TEST_SUITE_P(Scales, Gtk4FormOnDisplay, ::testing::Values(1, 2),
                         [](const auto& each) { return "Scale" + std::to_string(each.param); });

} // namespace
