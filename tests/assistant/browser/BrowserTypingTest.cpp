#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/screen/ComputerControl.h"
#include "Tovrick/screen/ControlsReader.h"
#include "Tovrick/screen/DisplayGeometry.h"
#include "assistant/PointingFakes.h"
#include "assistant/browser/BrowserPage.h"
#include "assistant/display/DesktopParts.h"
#include "support/RunTask.h"

namespace {

// Typing into a real browser's page with the real input and field checks, on the display's US
// layout: what the page's field ends up with is what the answer says it took.
class BrowserTyping : public ::testing::TestWithParam<BrowserPage::Browser> {
protected:
    void open(const QString& page)
    {
        ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), QStringLiteral("us")}), 0);
        browser = std::make_unique<BrowserPage>(GetParam(), page);
        ASSERT_TRUE(browser->open()) << browser->failure().toStdString();
        ASSERT_TRUE(browser->fieldsOnBus()) << browser->failure().toStdString();
        actions = std::make_unique<ComputerActions>(world.pointing, desktopPorts(control));
    }
    void TearDown() override { activate(0); }

    // Clicks the middle of the field labelled `label` and waits until the page says it has the focus.
    void focus(const char* label, const QString& id)
    {
        const qint64 pid = browser->pid();
        std::optional<QRectF> rect;
        ASSERT_TRUE(readControlsUntil(
            pid,
            [&](const ControlsReader::Reading& reading) {
                for (const ControlsReader::Control& each : reading.controls)
                    if (each.label == QLatin1String(label))
                        rect = each.rect;
                return rect.has_value();
            },
            std::chrono::seconds(30)))
            << label;
        auto clicking = control.click(rect->center(), false, 1);
        runTask(std::move(clicking), std::chrono::seconds(10));
        ASSERT_TRUE(browser->until(QStringLiteral("FOCUS ") + id, std::chrono::seconds(20)))
            << browser->seen().join(QLatin1Char('\n')).toStdString();
        // The browser tells the bus of the focus after the page hears of it.
        ControlsReader::FocusedField field;
        ASSERT_TRUE(waitUntil(
            [&field] {
                auto checking = ControlsReader::focusedFieldIsSecure();
                field = runTask(std::move(checking), std::chrono::seconds(60));
                return field.checked && field.editable && !field.secure;
            },
            std::chrono::seconds(60)))
            << "the field never showed focused on the accessibility bus: " << id.toStdString() << " checked "
            << field.checked << " editable " << field.editable << " secure " << field.secure << " "
            << field.element.toStdString();
    }
    QString typeText(const QString& text)
    {
        const QString arguments = QString::fromUtf8(
            QJsonDocument(QJsonObject {{QStringLiteral("text"), text}}).toJson(QJsonDocument::Compact));
        auto acting = actions->handle(QStringLiteral("type_text"), toolargs::parse(arguments), {});
        return runTask(std::move(acting), std::chrono::seconds(120)).text;
    }

    std::unique_ptr<BrowserPage> browser;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
};

// Letters on no key of the layout go out on spare keys whose new mapping the browser has to read
// before their key comes; the second text needs more letters than there are spare keys, so keys
// are bound again while it is typed.
TEST_P(BrowserTyping, LettersOnNoKeyOfTheLayoutArriveAsAsked)
{
    ASSERT_NO_FATAL_FAILURE(open(QStringLiteral("login.html")));
    const std::pair<const char*, QString> fields[] = {
        {"User name", QStringLiteral("Привет мир Привет, как дела? Всё хорошо.")},
        {"Note", QStringLiteral("Съешь же ещё этих мягких французских булок, да выпей чаю.")},
    };
    for (const auto& [label, text] : fields) {
        const QString id = QLatin1String(label == fields[0].first ? "user" : "note");
        ASSERT_NO_FATAL_FAILURE(focus(label, id));
        EXPECT_EQ(typeText(text).toStdString(), "Typed it.");
        EXPECT_TRUE(browser->valueBecomes(id, text)) << browser->value(id).toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Browsers, BrowserTyping,
                         ::testing::Values(BrowserPage::Browser::chromium, BrowserPage::Browser::firefox),
                         [](const auto& each) { return std::string(BrowserPage::name(each.param)); });

} // namespace
