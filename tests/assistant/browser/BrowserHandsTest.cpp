#include <gtest/gtest.h>

#include <initializer_list>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostPointing.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ScreenReader.h"
#include "assistant/browser/BrowserPage.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

#include <X11/Xlib.h>

namespace {

// The assistant's hands on a login page in a real browser: a look, then actions by the ids it
// listed, with the real character, screen reading and input.
class BrowserHands : public ::testing::TestWithParam<BrowserPage::Browser> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(page.open()) << page.failure().toStdString();
        ASSERT_TRUE(page.fieldsOnBus()) << page.failure().toStdString();
        // A loaded machine gets all the time a walk of a browser's tree needs.
        ControlsReader::setWalkBudget(std::chrono::seconds(20));
        overlay = std::make_unique<CursorOverlay>();
        overlay->start();
        pointing = std::make_shared<HostPointing>(overlay->view(), HostPointing::Ports {});
        actions = std::make_unique<ComputerActions>(pointing, desktopPorts(control, screen));
    }
    void TearDown() override
    {
        ControlsReader::setWalkBudget(ControlsReader::kWalkBudget);
        actions.reset();
        pointing.reset();
        if (overlay)
            overlay->stop();
        overlay.reset();
    }

    ToolResult look() { return runTask(HostTools::lookAtScreen(screen, pointing, std::nullopt), std::chrono::seconds(120)); }
    ToolResult call(const char* name, const QString& arguments)
    {
        return runTask(actions->handle(QString::fromLatin1(name), toolargs::parse(arguments), {}), std::chrono::seconds(120));
    }
    ToolResult clickOn(const QString& id) { return call("click", QStringLiteral(R"({"target_id": "%1"})").arg(id)); }
    ToolResult press(const char* keys) { return call("press_keys", QStringLiteral(R"({"keys": "%1"})").arg(QLatin1String(keys))); }

    // The control of the latest look whose label starts with `label`, of `kind` when given.
    std::optional<ControlsReader::Control> listed(const QString& label, const QString& kind = {}) const
    {
        if (!pointing->snapshot())
            return std::nullopt;
        for (const auto& each : pointing->snapshot()->controls)
            if (each.label.startsWith(label) && (kind.isEmpty() || each.kind == kind))
                return each;
        return std::nullopt;
    }
    // Ids from one look (a walk a loaded machine cut short renumbers them); empty when the controls
    // were never listed together.
    QStringList idsOf(std::initializer_list<QString> labels, const QString& kind = {})
    {
        for (int attempt = 0; attempt <= 8; ++attempt) {
            QStringList ids;
            for (const QString& label : labels)
                if (const auto found = listed(label, kind))
                    ids << found->id;
            if (ids.size() == static_cast<qsizetype>(labels.size()))
                return ids;
            if (attempt < 8)
                look();
        }
        return {};
    }
    QString idOf(const QString& label, const QString& kind = {})
    {
        const QStringList ids = idsOf({label}, kind);
        return ids.isEmpty() ? QString() : ids.front();
    }
    // The grid point of the middle of a control, as the model gives a point.
    QString gridPoint(const ControlsReader::Control& listedControl) const
    {
        const QSizeF size = pointing->screenSize();
        return QStringLiteral(R"("x": %1, "y": %2)")
            .arg(listedControl.rect.center().x() * 1000 / size.width(), 0, 'f', 4)
            .arg(listedControl.rect.center().y() * 1000 / size.height(), 0, 'f', 4);
    }
    // The assistant puts `text` on the clipboard from the note field, as a model would.
    void copyFromNote(const QString& text)
    {
        ASSERT_TRUE(clickOn(idOf(QStringLiteral("Note"))).text.startsWith(QStringLiteral("Clicked ")));
        ASSERT_TRUE(page.until(QStringLiteral("FOCUS note"))) << page.seen().join('\n').toStdString();
        ASSERT_EQ(call("type_text", QStringLiteral(R"({"text": "%1"})").arg(text)).text, QStringLiteral("Typed it."));
        ASSERT_TRUE(page.valueBecomes(QStringLiteral("note"), text)) << page.seen().join('\n').toStdString();
        ASSERT_TRUE(press("ctrl+a").text.startsWith(QStringLiteral("Pressed ")));
        ASSERT_TRUE(press("ctrl+c").text.startsWith(QStringLiteral("Pressed ")));
    }
    // From the password field, pastes into the user name field before it, which reports it: every
    // report the page made before has come.
    void pasteIntoUserName(const QString& text)
    {
        const ToolResult back = press("shift+tab");
        ASSERT_TRUE(back.text.startsWith(QStringLiteral("Pressed "))) << back.text.toStdString();
        ASSERT_TRUE(page.until(QStringLiteral("FOCUS user"))) << page.seen().join('\n').toStdString();
        ASSERT_TRUE(press("ctrl+v").text.startsWith(QStringLiteral("Pressed ")));
        ASSERT_TRUE(page.valueBecomes(QStringLiteral("user"), text)) << page.seen().join('\n').toStdString();
    }

    // The user's own keys, on a connection of their own: lowercase letters and digits.
    static void userTypes(const char* text)
    {
        Display* user = XOpenDisplay(nullptr);
        ASSERT_NE(user, nullptr);
        for (const char* each = text; *each; ++each) {
            const char name[2] = {*each, 0};
            const KeyCode code = XKeysymToKeycode(user, XStringToKeysym(name));
            XTestFakeKeyEvent(user, code, True, CurrentTime);
            XTestFakeKeyEvent(user, code, False, CurrentTime);
        }
        XSync(user, False);
        XCloseDisplay(user);
    }

    BrowserPage page {GetParam()};
    std::unique_ptr<CursorOverlay> overlay;
    std::shared_ptr<HostPointing> pointing;
    std::shared_ptr<ScreenReader> screen = std::make_shared<ScreenReader>();
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

// The browser opens a page's context menu without moving the focus from the field: its Paste is
// picked neither by the pointer nor by the keys.
TEST_P(BrowserHands, NothingIsPickedInTheContextMenuOfAPasswordField)
{
    copyFromNote(QStringLiteral("hunter2"));
    ASSERT_FALSE(idOf(QStringLiteral("Password")).isEmpty());
    ASSERT_EQ(listed(QStringLiteral("Password"))->kind, QStringLiteral("password"));
    userClick(listed(QStringLiteral("Password"))->rect.center(), 3);
    ASSERT_TRUE(page.until(QStringLiteral("CONTEXTMENU password"))) << page.seen().join('\n').toStdString();
    const QString paste = idOf(QStringLiteral("Paste"), QStringLiteral("menuitem"));
    ASSERT_FALSE(paste.isEmpty()) << "the menu's Paste was never listed";
    const ControlsReader::Control entry = *listed(QStringLiteral("Paste"), QStringLiteral("menuitem"));
    // Over the password field, or where a loaded browser did not tell in time.
    const QStringList untold {ComputerActions::couldNotCheckMenu(), ComputerActions::couldNotCheckField()};
    const QStringList clicks = QStringList {ComputerActions::clickInPasswordFieldMenu()} + untold;
    EXPECT_TRUE(clicks.contains(clickOn(paste).text));
    EXPECT_TRUE(clicks.contains(call("click", QLatin1Char('{') + gridPoint(entry) + QLatin1Char('}')).text));
    // Down to the entries moves in the menu; Return would pick one.
    for (int i = 0; i < 4; ++i) {
        const ToolResult down = press("down");
        EXPECT_TRUE(down.text.startsWith(QStringLiteral("Pressed down."))) << down.text.toStdString();
    }
    for (const char* picks : {"return", "space"}) {
        const ToolResult picked = press(picks);
        EXPECT_TRUE((QStringList {ComputerActions::passwordField()} + untold).contains(picked.text))
            << picks << ": " << picked.text.toStdString();
    }
    EXPECT_TRUE(press("escape").text.startsWith(QStringLiteral("Pressed escape.")));

    pasteIntoUserName(QStringLiteral("hunter2"));
    EXPECT_EQ(page.value(QStringLiteral("password")), QString()) << page.seen().join('\n').toStdString();
}

// "Show password" turns the page's password input into a text input; Firefox makes a new object
// for it, which is the same field all the same.
TEST_P(BrowserHands, APasswordFieldShownAsTextIsStillAPasswordField)
{
    const QStringList ids = idsOf({QStringLiteral("Password"), QStringLiteral("Show password")});
    ASSERT_EQ(ids.size(), 2) << "the password field and its checkbox were never listed in one look";
    ASSERT_EQ(listed(QStringLiteral("Password"))->kind, QStringLiteral("password"));
    const ToolResult shown = clickOn(ids[1]);
    EXPECT_TRUE(shown.text.startsWith(QStringLiteral("Clicked \"Show password\"."))) << shown.text.toStdString();
    ASSERT_TRUE(page.until(QStringLiteral("TYPE password text"))) << page.seen().join('\n').toStdString();
    look();
    ASSERT_FALSE(idOf(QStringLiteral("Password")).isEmpty());
    EXPECT_EQ(listed(QStringLiteral("Password"))->kind, QStringLiteral("password"));

    copyFromNote(QStringLiteral("hunter2"));
    const ToolResult into = clickOn(idOf(QStringLiteral("Password")));
    EXPECT_TRUE(into.text.startsWith(QStringLiteral("Clicked \"Password\"."))) << into.text.toStdString();
    ASSERT_TRUE(page.until(QStringLiteral("FOCUS password"))) << page.seen().join('\n').toStdString();
    EXPECT_EQ(call("type_text", QStringLiteral(R"({"text": "hunter2"})")).text, ComputerActions::passwordField());
    EXPECT_EQ(press("ctrl+v").text, ComputerActions::passwordField());

    pasteIntoUserName(QStringLiteral("hunter2"));
    EXPECT_EQ(page.value(QStringLiteral("password")), QString()) << page.seen().join('\n').toStdString();
}

// The user typed their password and the assistant presses a page's button or follows its link:
// Chromium tells of the text inside it at the point, which cannot take the focus, where the element
// around it can. The click goes, with the focus already out of the password field.
TEST_P(BrowserHands, AButtonOrLinkClickedFromAPasswordFieldGetsTheFocusFirst)
{
    struct Case {
        const char* label;
        const char* kind;
        const char* element;
    };
    QString typed;
    for (const Case& each : {Case {"Sign in", "button", "signin"}, Case {"Forgot password", "link", "forgot"}}) {
        SCOPED_TRACE(each.element);
        const QString label = QString::fromLatin1(each.label);
        const QString target = idOf(label, QString::fromLatin1(each.kind));
        ASSERT_FALSE(target.isEmpty()) << each.label << " was never listed";
        ASSERT_TRUE(listed(QStringLiteral("Password"), QStringLiteral("password")));
        ASSERT_TRUE(listed(QStringLiteral("User name")));
        userClick(listed(QStringLiteral("User name"))->rect.center(), 1);
        ASSERT_TRUE(page.until(QStringLiteral("FOCUS user"))) << page.seen().join('\n').toStdString();
        userClick(listed(QStringLiteral("Password"), QStringLiteral("password"))->rect.center(), 1);
        ASSERT_TRUE(page.until(QStringLiteral("FOCUS password"))) << page.seen().join('\n').toStdString();
        // The caret lands after the short text; every key has come before the assistant acts.
        userTypes("hunter2");
        typed += QStringLiteral("hunter2");
        ASSERT_TRUE(page.valueBecomes(QStringLiteral("password"), typed)) << page.seen().join('\n').toStdString();

        const ToolResult clicked = clickOn(target);
        EXPECT_TRUE(clicked.text.startsWith(QStringLiteral("Clicked \"%1\".").arg(label)))
            << clicked.text.toStdString();
        const QString pressed = QStringLiteral("CLICKED %1 from ").arg(QLatin1String(each.element));
        ASSERT_TRUE(page.until(pressed)) << page.seen().join('\n').toStdString();
        const QStringList clicks = page.seen().filter(pressed);
        EXPECT_NE(clicks.back(), pressed + QStringLiteral("password")) << page.seen().join('\n').toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Browsers, BrowserHands,
                         ::testing::Values(BrowserPage::Browser::firefox, BrowserPage::Browser::chromium),
                         [](const ::testing::TestParamInfo<BrowserPage::Browser>& browser) {
                             return std::string(BrowserPage::name(browser.param));
                         });

} // namespace
