#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimer>

#include <map>

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

// Another accessibility client, a screen reader say, that listens for focus events, here before the
// program's own first look. Chromium tells the focus it already has to the first client that
// listens, once; Firefox tells it as it makes the page's tree, to whoever listens then.
class OtherListener : public QObject {
    Q_OBJECT
public:
    ~OtherListener() override { QDBusConnection::disconnectFromBus(kName); }
    // Registers, and waits until the browser, process `pid`, has heard of it (it tells a client
    // what it tells on hearing of it before it answers a call made after that) and, with
    // `focusTold`, until it has told this client of its focus.
    bool listen(qint64 pid, bool focusTold)
    {
        QDBusInterface launcher(QStringLiteral("org.a11y.Bus"), QStringLiteral("/org/a11y/bus"),
                                QStringLiteral("org.a11y.Bus"));
        const QDBusReply<QString> address = launcher.call(QStringLiteral("GetAddress"));
        if (!address.isValid())
            return false;
        QDBusConnection bus = QDBusConnection::connectToBus(address.value(), kName);
        bus.connect(QString(), QString(), QStringLiteral("org.a11y.atspi.Event.Object"), QStringLiteral("StateChanged"),
                    this, SLOT(stateChanged(QString, int)));
        QDBusInterface registry(QStringLiteral("org.a11y.atspi.Registry"), QStringLiteral("/org/a11y/atspi/registry"),
                                QStringLiteral("org.a11y.atspi.Registry"), bus);
        const QDBusMessage registered = registry.call(QStringLiteral("RegisterEvent"),
                                                      QStringLiteral("object:state-changed:focused"), QStringList(),
                                                      QString());
        if (registered.type() != QDBusMessage::ReplyMessage || !bus.interface())
            return false;
        bool found = false;
        bool answered = true;
        for (const QString& name : bus.interface()->registeredServiceNames().value()) {
            if (!name.startsWith(QLatin1Char(':')) || bus.interface()->servicePid(name).value() != pid)
                continue;
            const QDBusMessage ping = QDBusMessage::createMethodCall(name, QStringLiteral("/"),
                                                                     QStringLiteral("org.freedesktop.DBus.Peer"),
                                                                     QStringLiteral("Ping"));
            found = true;
            answered = answered && bus.call(ping, QDBus::Block, 60000).type() == QDBusMessage::ReplyMessage;
        }
        return found && answered && (!focusTold || waitUntil([this] { return m_focusTold; }, std::chrono::seconds(60)));
    }

private slots:
    void stateChanged(const QString& state, int gained)
    {
        m_focusTold = m_focusTold || (state == QLatin1String("focused") && gained != 0);
    }

private:
    static inline const QString kName = QStringLiteral("other-accessibility-client");
    bool m_focusTold = false;
};

// Typing into a real browser's page with the real input and field checks, on the display's US
// layout: what the page's field ends up with is what the answer says it took.
class BrowserTyping : public ::testing::TestWithParam<BrowserPage::Browser> {
protected:
    // With `focusedOnLoad`, waits until the page has put the focus in the field of that id as it
    // loaded, and another client has heard of it, before anything here asks the bus.
    void open(const QString& page, const QString& focusedOnLoad = {})
    {
        ASSERT_EQ(QProcess::execute(QStringLiteral("setxkbmap"), {QStringLiteral("-layout"), QStringLiteral("us")}), 0);
        browser = std::make_unique<BrowserPage>(GetParam(), page);
        ASSERT_TRUE(browser->open()) << browser->failure().toStdString();
        if (!focusedOnLoad.isEmpty()) {
            ASSERT_TRUE(waitUntil([&] { return browser->seen().contains(QStringLiteral("FOCUS ") + focusedOnLoad); },
                                  std::chrono::seconds(20)))
                << browser->seen().join(QLatin1Char('\n')).toStdString();
            other = std::make_unique<OtherListener>();
            ASSERT_TRUE(other->listen(browser->pid(), GetParam() == BrowserPage::Browser::chromium))
                << "the browser did not tell another client of its focus";
        }
        ASSERT_TRUE(browser->fieldsOnBus()) << browser->failure().toStdString();
        ComputerActions::Ports ports = desktopPorts(control);
        ports.focusedField = [this]() -> QCoro::Task<ControlsReader::FocusedField> {
            if (beforeCheck)
                beforeCheck();
            ++checks;
            auto checking = ControlsReader::focusedFieldIsSecure();
            ControlsReader::FocusedField found = co_await std::move(checking);
            if (const std::function<void()> then = std::exchange(afterCheck, {}))
                then();
            co_return found;
        };
        actions = std::make_unique<ComputerActions>(world.pointing, std::move(ports));
    }
    void TearDown() override { activate(0); }

    // Where the field labelled `label` lies.
    QRectF placeOf(const char* label)
    {
        std::optional<QRectF> rect;
        EXPECT_TRUE(readControlsUntil(
            browser->pid(),
            [&](const ControlsReader::Reading& reading) {
                for (const ControlsReader::Control& each : reading.controls)
                    if (each.label == QLatin1String(label))
                        rect = each.rect;
                return rect.has_value();
            },
            std::chrono::seconds(30)))
            << label;
        return rect.value_or(QRectF());
    }
    // Clicks the middle of the field labelled `label` and waits until the page says it has the focus.
    void click(const char* label, const QString& id)
    {
        const QRectF rect = placeOf(label);
        ASSERT_FALSE(rect.isEmpty()) << label;
        auto clicking = control.click(rect.center(), false, 1);
        runTask(std::move(clicking), std::chrono::seconds(10));
        ASSERT_TRUE(browser->until(QStringLiteral("FOCUS ") + id, std::chrono::seconds(20)))
            << browser->seen().join(QLatin1Char('\n')).toStdString();
    }
    // The same, then waits until the browser tells the bus that this very field has the focus (it
    // does after the page hears of it).
    void focus(const char* label, const QString& id)
    {
        ASSERT_NO_FATAL_FAILURE(click(label, id));
        const QRectF rect = placeOf(label);
        ControlsReader::FocusedField field;
        ASSERT_TRUE(waitUntil(
            [&field, rect] {
                auto checking = ControlsReader::focusedFieldIsSecure();
                field = runTask(std::move(checking), std::chrono::seconds(60));
                return field.checked && field.editable && field.frame && field.frame->contains(rect.center());
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

    // Typed into the field of `id` that the page asked for with `page` put the focus in as it loaded:
    // first as it is, then after a click into it.
    void typeIntoTheFieldFocusedOnLoad(const char* page, const char* id)
    {
        const QString field = QLatin1String(id);
        const bool password = field == QLatin1String("password");
        ASSERT_NO_FATAL_FAILURE(open(QLatin1String(page), field));
        const QString first = typeText(QStringLiteral("ada"));
        const QRectF place = placeOf(password ? "Password" : "User name");
        ASSERT_FALSE(place.isEmpty());
        auto clicking = control.click(place.center(), false, 1);
        runTask(std::move(clicking), std::chrono::seconds(10));
        ASSERT_TRUE(browser->until(QStringLiteral("CLICKED %1 from %1").arg(field), std::chrono::seconds(20)))
            << browser->seen().join(QLatin1Char('\n')).toStdString();
        const QString second = typeText(QStringLiteral(" lovelace"));
        if (password) {
            EXPECT_EQ(first, ComputerActions::passwordField());
            EXPECT_EQ(second, ComputerActions::passwordField());
            EXPECT_EQ(browser->value(field), QString());
        } else {
            EXPECT_EQ(first.toStdString(), "Typed it.");
            EXPECT_EQ(second.toStdString(), "Typed it.");
            EXPECT_TRUE(browser->valueBecomes(field, QStringLiteral("ada lovelace")))
                << browser->value(field).toStdString();
        }
    }

    std::unique_ptr<BrowserPage> browser;
    std::unique_ptr<OtherListener> other;
    PointingWorld world;
    ComputerControl control;
    std::unique_ptr<ComputerActions> actions;
    // Runs as each of the actions' checks begins, and once after the next one answered; the checks
    // so far.
    std::function<void()> beforeCheck;
    std::function<void()> afterCheck;
    size_t checks = 0;
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

// On a loaded desktop the bus tells of the focus late: the user moves it while the character flies
// to the field, and the bus carries the news only once the check that the keys go by has begun.
// Nothing the browser told before that check is a move after it: the text goes whole where the
// focus is, and never into a password field.
TEST_P(BrowserTyping, AFocusMovedJustBeforeTheKeysIsWhereTheTextGoes)
{
    ASSERT_NO_FATAL_FAILURE(open(QStringLiteral("login.html")));
    LateBus late;
    ASSERT_TRUE(late.found()) << "the accessibility bus's daemon was not found";
    const std::map<QString, QRectF> places {{QStringLiteral("user"), placeOf("User name")},
                                            {QStringLiteral("note"), placeOf("Note")},
                                            {QStringLiteral("password"), placeOf("Password")}};
    for (const auto& [id, place] : places)
        ASSERT_FALSE(place.isEmpty()) << id.toStdString();
    const struct {
        std::vector<const char*> clicks;
        const char* text;
    } cases[] = {
        {{"note"}, "to the note"},
        {{"password"}, "never a password"},
        {{"note", "user"}, "away and back"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ASSERT_NO_FATAL_FAILURE(focus("User name", QStringLiteral("user")));
        const QString into = QLatin1String(c.clicks.back());
        const QString held = browser->value(into);
        const size_t before = checks;
        afterCheck = [&] {
            late.hold();
            for (const char* id : c.clicks) {
                ASSERT_NO_FATAL_FAILURE(userClick(places.at(QLatin1String(id)).center(), 1));
                EXPECT_TRUE(browser->until(QStringLiteral("FOCUS ") + QLatin1String(id), std::chrono::seconds(20)));
            }
        };
        beforeCheck = [&late, this, before] {
            if (checks == before + 1)
                QTimer::singleShot(100, [&late] { late.release(); });
        };
        const QString typed = typeText(QLatin1String(c.text));
        beforeCheck = {};
        afterCheck = {};
        late.release();
        ASSERT_GE(checks, before + 2) << "the character did not fly to the field: " << typed.toStdString();
        if (into == QLatin1String("password")) {
            EXPECT_EQ(typed, ComputerActions::passwordField());
            EXPECT_EQ(browser->value(into), QString());
        } else {
            EXPECT_EQ(typed.toStdString(), "Typed it.");
            EXPECT_TRUE(browser->valueBecomes(into, held + QLatin1String(c.text))) << browser->value(into).toStdString();
        }
    }
}

// A sign-in page puts the focus in a field as it loads, by script or by the `autofocus` attribute,
// before anything listens on the bus, so the program hears no focus event for it; and the browser
// marks other things focused beside it. The user name takes the text as asked, before and after a
// click into it; the password field refuses it. One page a test: only a program's first look comes
// after the page's focus.
TEST_P(BrowserTyping, TheUserNameAPageFocusedByScriptTakesTheText)
{
    typeIntoTheFieldFocusedOnLoad("login.html?focus=user", "user");
}

TEST_P(BrowserTyping, TheUserNameAPageAutofocusedTakesTheText)
{
    typeIntoTheFieldFocusedOnLoad("login.html?autofocus=user", "user");
}

TEST_P(BrowserTyping, APasswordFieldAPageFocusedByScriptRefusesTheText)
{
    typeIntoTheFieldFocusedOnLoad("login.html?focus=password", "password");
}

TEST_P(BrowserTyping, APasswordFieldAPageAutofocusedRefusesTheText)
{
    typeIntoTheFieldFocusedOnLoad("login.html?autofocus=password", "password");
}

INSTANTIATE_TEST_SUITE_P(Browsers, BrowserTyping,
                         ::testing::Values(BrowserPage::Browser::chromium, BrowserPage::Browser::firefox),
                         [](const auto& each) { return std::string(BrowserPage::name(each.param)); });

} // namespace

#include "BrowserTypingTest.moc"
