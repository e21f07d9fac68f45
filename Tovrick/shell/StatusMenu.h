#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What the status menu and the global hot keys can do.
enum class ShellAction {
    none,
    showFocusWindow,
    pauseOrResume,
    endFocus,
    toggleDeveloperMode,
    toggleAwake,
    toggleFollowMouse,
    toggleComputerControl,
    stop,
    openJob,        // argument: the job's thread id
    openCodexApp,
    addFolder,
    forgetFolders,
    openNotes,
    hide,
    quit,
};

// One global key combination: Ctrl+Alt and a letter, the same on every keyboard layout that has it.
struct HotKey {
    char letter = 0;   // lower case, as its X key symbol is named
    ShellAction action = ShellAction::none;

    // "Ctrl+Alt+S".
    QString label() const;
};

// The seven keys, chosen once: the stop and the status menu's most used actions.
const QList<HotKey>& shellHotKeys();
std::optional<HotKey> hotKeyFor(ShellAction action);

// What the status menu shows, read from the running program each time the menu opens.
struct StatusMenuState {
    struct Session {
        bool running = true;   // false: paused
        QString task;
        double remainingSeconds = 0;   // of focus-clock time
    };
    struct Job {
        QString project;
        QString status;
        QString threadID;
    };

    bool characterAwake = true;
    bool followMouse = true;
    bool computerControl = true;
    std::optional<Session> session;   // the open session; none when there is none or it ended
    bool developerMode = false;
    bool codingAgentInstalled = false;
    QList<Job> jobs;                  // oldest first, as the agent bridge keeps them
    int approvals = 0;
    QStringList folders;              // the folders the user chose for the coding agent
};

struct StatusMenuItem {
    enum class Kind { action, toggle, note, separator, submenu };

    Kind kind = Kind::action;
    QString label;
    ShellAction action = ShellAction::none;
    QString argument;
    bool checked = false;
    std::optional<HotKey> shortcut;
    QList<StatusMenuItem> children;

    bool operator==(const StatusMenuItem& other) const;
};

namespace statusMenu {

// The newest jobs listed; older ones stay reachable through the agent's app.
constexpr int kListedJobs = 6;

// The whole menu for one state: the status menu's items, then the app menu's three.
QList<StatusMenuItem> items(const StatusMenuState& state);

// "12 min left", "1 min left", "less than a minute left".
QString remainingText(double seconds);

} // namespace statusMenu
