#include <gtest/gtest.h>

#include <QSet>

#include "Tovrick/shell/StatusMenu.h"

namespace {

using Kind = StatusMenuItem::Kind;

// Every item, submenus opened, in menu order.
QList<StatusMenuItem> flatten(const QList<StatusMenuItem>& items)
{
    QList<StatusMenuItem> all;
    for (const StatusMenuItem& item : items) {
        all << item;
        all << flatten(item.children);
    }
    return all;
}

std::optional<StatusMenuItem> find(const QList<StatusMenuItem>& items, ShellAction action)
{
    for (const StatusMenuItem& item : flatten(items))
        if (item.action == action)
            return item;
    return std::nullopt;
}

QStringList labels(const QList<StatusMenuItem>& items)
{
    QStringList result;
    for (const StatusMenuItem& item : items)
        result << item.label;
    return result;
}

StatusMenuState withSession(bool running, double remaining)
{
    StatusMenuState state;
    state.session = StatusMenuState::Session {running, QStringLiteral("Write the quarterly report"), remaining};
    return state;
}

} // namespace

TEST(StatusMenu, TheFocusSessionsStateDecidesItsItems)
{
    struct Case {
        const char* name;
        StatusMenuState state;
        QString firstLine;
        std::optional<QString> pauseLabel;   // none: no pause/resume and no end item
    };
    const Case cases[] = {
        {"no session", StatusMenuState {}, QStringLiteral("No focus session"), std::nullopt},
        {"running", withSession(true, 12 * 60 + 59),
         QStringLiteral("Focusing on Write the quarterly report · 12 min left"), QStringLiteral("Pause Focus Session")},
        {"paused", withSession(false, 60), QStringLiteral("Paused: Write the quarterly report · 1 min left"),
         QStringLiteral("Resume Focus Session")},
        {"last seconds", withSession(true, 59.9),
         QStringLiteral("Focusing on Write the quarterly report · less than a minute left"),
         QStringLiteral("Pause Focus Session")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QList<StatusMenuItem> menu = statusMenu::items(c.state);
        ASSERT_FALSE(menu.isEmpty());
        EXPECT_EQ(menu.first().kind, Kind::note);
        EXPECT_EQ(menu.first().label, c.firstLine);
        const auto pause = find(menu, ShellAction::pauseOrResume);
        EXPECT_EQ(pause.has_value(), c.pauseLabel.has_value());
        EXPECT_EQ(find(menu, ShellAction::endFocus).has_value(), c.pauseLabel.has_value());
        if (pause && c.pauseLabel) {
            EXPECT_EQ(pause->label, *c.pauseLabel);
            ASSERT_TRUE(pause->shortcut);
            EXPECT_EQ(pause->shortcut->label(), QStringLiteral("Ctrl+Alt+P"));
        }
    }
}

TEST(StatusMenu, TogglesShowTheirSettingsAndEndsWithTheAppMenu)
{
    for (const bool on : {true, false}) {
        StatusMenuState state;
        state.characterAwake = on;
        state.followMouse = !on;
        state.computerControl = on;
        state.developerMode = !on;
        const QList<StatusMenuItem> menu = statusMenu::items(state);
        EXPECT_EQ(find(menu, ShellAction::toggleAwake)->checked, on);
        EXPECT_EQ(find(menu, ShellAction::toggleFollowMouse)->checked, !on);
        EXPECT_EQ(find(menu, ShellAction::toggleComputerControl)->checked, on);
        EXPECT_EQ(find(menu, ShellAction::toggleDeveloperMode)->checked, !on);
        for (const ShellAction toggle : {ShellAction::toggleAwake, ShellAction::toggleFollowMouse,
                                         ShellAction::toggleComputerControl, ShellAction::toggleDeveloperMode})
            EXPECT_EQ(find(menu, toggle)->kind, Kind::toggle);
        EXPECT_EQ(labels(menu.mid(menu.size() - 3)),
                  (QStringList {QStringLiteral("Focus & Account…"), QStringLiteral("Hide Tovrick"),
                                QStringLiteral("Quit Tovrick")}));
    }
}

TEST(StatusMenu, EveryHotKeyIsShownBesideItsItemAndNoTwoShareALetter)
{
    ASSERT_EQ(shellHotKeys().size(), 7);
    QSet<char> letters;
    for (const HotKey& key : shellHotKeys())
        letters.insert(key.letter);
    EXPECT_EQ(letters.size(), 7);
    EXPECT_EQ(hotKeyFor(ShellAction::stop)->label(), QStringLiteral("Ctrl+Alt+S"));

    const QList<StatusMenuItem> menu = statusMenu::items(withSession(true, 600));
    for (const HotKey& key : shellHotKeys()) {
        SCOPED_TRACE(key.label().toStdString());
        const auto item = find(menu, key.action);
        ASSERT_TRUE(item);
        ASSERT_TRUE(item->shortcut);
        EXPECT_EQ(item->shortcut->letter, key.letter);
    }
    // Items without a key of their own show none.
    EXPECT_FALSE(find(menu, ShellAction::quit)->shortcut);
    EXPECT_FALSE(find(menu, ShellAction::toggleDeveloperMode)->shortcut);
}

TEST(StatusMenu, TheCodingAgentsMenuListsTheNewestJobsAndTheChosenFolders)
{
    StatusMenuState state;
    EXPECT_FALSE(find(statusMenu::items(state), ShellAction::openCodexApp)) << "no agent, no menu";

    state.codingAgentInstalled = true;
    const auto empty = find(statusMenu::items(state), ShellAction::openCodexApp);
    ASSERT_TRUE(empty);
    QList<StatusMenuItem> menu = statusMenu::items(state);
    auto agent = std::find_if(menu.begin(), menu.end(), [](const StatusMenuItem& i) { return i.kind == Kind::submenu; });
    ASSERT_NE(agent, menu.end());
    EXPECT_EQ(agent->children.first().label, QStringLiteral("No Codex jobs yet."));
    EXPECT_FALSE(find(agent->children, ShellAction::forgetFolders)) << "nothing chosen, nothing to forget";

    for (int n = 1; n <= 8; ++n)
        state.jobs << StatusMenuState::Job {QStringLiteral("project-%1").arg(n), QStringLiteral("done"),
                                            QStringLiteral("thread-%1").arg(n)};
    state.jobs.last().project = QStringLiteral("two\nlines");
    state.approvals = 2;
    state.folders = {QStringLiteral("/home/ada/src/engine")};
    menu = statusMenu::items(state);
    agent = std::find_if(menu.begin(), menu.end(), [](const StatusMenuItem& i) { return i.kind == Kind::submenu; });
    ASSERT_NE(agent, menu.end());
    QStringList jobs;
    QStringList threads;
    for (const StatusMenuItem& item : agent->children)
        if (item.action == ShellAction::openJob) {
            jobs << item.label;
            threads << item.argument;
        }
    EXPECT_EQ(jobs.size(), statusMenu::kListedJobs);
    EXPECT_EQ(jobs.first(), QStringLiteral("two lines: done")) << "newest first, on one line";
    EXPECT_EQ(threads, (QStringList {"thread-8", "thread-7", "thread-6", "thread-5", "thread-4", "thread-3"}));
    EXPECT_EQ(agent->children.first().label, QStringLiteral("2 requests waiting for approval"));
    EXPECT_TRUE(labels(agent->children).contains(QStringLiteral("/home/ada/src/engine")));
    EXPECT_TRUE(find(agent->children, ShellAction::addFolder));
    EXPECT_TRUE(find(agent->children, ShellAction::forgetFolders));
}

TEST(StatusMenu, LongTasksAreCutOnOneLine)
{
    StatusMenuState state = withSession(true, 3600);
    state.session->task = QStringLiteral("Line one\n") + QString(80, u'x');
    const QString line = statusMenu::items(state).first().label;
    EXPECT_FALSE(line.contains(u'\n'));
    EXPECT_TRUE(line.startsWith(QStringLiteral("Focusing on Line one xxx")));
    EXPECT_TRUE(line.contains(QStringLiteral("… · 60 min left")));
}
