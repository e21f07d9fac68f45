#include "Tovrick/shell/StatusMenu.h"

#include <QDir>

#include <cmath>

#include "shared/util/Text.h"

QString HotKey::label() const
{
    return QStringLiteral("Ctrl+Alt+") + QChar::fromLatin1(letter).toUpper();
}

const QList<HotKey>& shellHotKeys()
{
    // Ctrl+Alt with letters the common desktops leave free (T opens a terminal, L locks, D shows
    // the desktop on several of them).
    static const QList<HotKey> keys {
        {'s', ShellAction::stop},
        {'f', ShellAction::showFocusWindow},
        {'p', ShellAction::pauseOrResume},
        {'e', ShellAction::endFocus},
        {'z', ShellAction::toggleAwake},
        {'m', ShellAction::toggleFollowMouse},
        {'c', ShellAction::toggleComputerControl},
    };
    return keys;
}

std::optional<HotKey> hotKeyFor(ShellAction action)
{
    for (const HotKey& key : shellHotKeys())
        if (key.action == action)
            return key;
    return std::nullopt;
}

bool StatusMenuItem::operator==(const StatusMenuItem& other) const
{
    const auto sameKey = [](const std::optional<HotKey>& a, const std::optional<HotKey>& b) {
        return a.has_value() == b.has_value() && (!a || (a->letter == b->letter && a->action == b->action));
    };
    return kind == other.kind && label == other.label && action == other.action && argument == other.argument
        && checked == other.checked && sameKey(shortcut, other.shortcut) && children == other.children;
}

namespace statusMenu {
namespace {

StatusMenuItem action(const QString& label, ShellAction what, QString argument = {})
{
    StatusMenuItem item;
    item.label = label;
    item.action = what;
    item.argument = std::move(argument);
    item.shortcut = hotKeyFor(what);
    return item;
}

StatusMenuItem toggle(const QString& label, ShellAction what, bool on)
{
    StatusMenuItem item = action(label, what);
    item.kind = StatusMenuItem::Kind::toggle;
    item.checked = on;
    return item;
}

StatusMenuItem note(const QString& label)
{
    StatusMenuItem item;
    item.kind = StatusMenuItem::Kind::note;
    item.label = label;
    return item;
}

StatusMenuItem separator()
{
    StatusMenuItem item;
    item.kind = StatusMenuItem::Kind::separator;
    return item;
}

// A user text on one menu line: line breaks folded, long ones cut.
QString oneLine(const QString& text, qsizetype limit)
{
    QString line = text;
    line.replace(u'\n', u' ');
    line = line.trimmed();
    if (text::characterCount(line) > limit)
        line = text::prefixCharacters(line, limit) + QStringLiteral("…");
    return line;
}

StatusMenuItem codingAgentMenu(const StatusMenuState& state)
{
    StatusMenuItem menu;
    menu.kind = StatusMenuItem::Kind::submenu;
    menu.label = QStringLiteral("Codex");
    if (state.approvals > 0)
        menu.children << note(state.approvals == 1 ? QStringLiteral("1 request waiting for approval")
                                                   : QString::number(state.approvals) + QStringLiteral(" requests waiting for approval"));
    if (state.jobs.isEmpty())
        menu.children << note(QStringLiteral("No Codex jobs yet."));
    const qsizetype first = std::max<qsizetype>(0, state.jobs.size() - kListedJobs);
    for (qsizetype index = state.jobs.size() - 1; index >= first; --index) {
        const StatusMenuState::Job& job = state.jobs[index];
        menu.children << action(oneLine(job.project, 40) + QStringLiteral(": ") + job.status, ShellAction::openJob,
                                job.threadID);
    }
    menu.children << action(QStringLiteral("Open Codex"), ShellAction::openCodexApp) << separator();
    if (state.folders.isEmpty())
        menu.children << note(QStringLiteral("Projects: Git folders in Documents"));
    for (const QString& folder : state.folders)
        menu.children << note(oneLine(QDir::toNativeSeparators(folder), 60));
    menu.children << action(QStringLiteral("Add Project Folder…"), ShellAction::addFolder);
    if (!state.folders.isEmpty())
        menu.children << action(QStringLiteral("Forget Chosen Folders"), ShellAction::forgetFolders);
    return menu;
}

} // namespace

QString remainingText(double seconds)
{
    if (!std::isfinite(seconds) || seconds < 60)
        return QStringLiteral("less than a minute left");
    const long long minutes = static_cast<long long>(std::floor(seconds / 60));
    return QString::number(minutes) + QStringLiteral(" min left");
}

QList<StatusMenuItem> items(const StatusMenuState& state)
{
    QList<StatusMenuItem> menu;
    if (const auto& session = state.session) {
        const QString head = session->running ? QStringLiteral("Focusing on ") : QStringLiteral("Paused: ");
        menu << note(head + oneLine(session->task, 40) + QStringLiteral(" · ") + remainingText(session->remainingSeconds));
        menu << action(session->running ? QStringLiteral("Pause Focus Session") : QStringLiteral("Resume Focus Session"),
                       ShellAction::pauseOrResume);
        menu << action(QStringLiteral("End Focus Session"), ShellAction::endFocus);
    } else {
        menu << note(QStringLiteral("No focus session"));
    }
    menu << toggle(QStringLiteral("Developer Mode"), ShellAction::toggleDeveloperMode, state.developerMode);
    menu << separator();
    menu << toggle(QStringLiteral("Awake"), ShellAction::toggleAwake, state.characterAwake);
    menu << toggle(QStringLiteral("Follow the Mouse"), ShellAction::toggleFollowMouse, state.followMouse);
    menu << toggle(QStringLiteral("Computer Control"), ShellAction::toggleComputerControl, state.computerControl);
    menu << action(QStringLiteral("Stop"), ShellAction::stop);
    menu << separator();
    if (state.codingAgentInstalled)
        menu << codingAgentMenu(state);
    menu << action(QStringLiteral("Meeting Notes Folder"), ShellAction::openNotes);
    menu << separator();
    // The app menu.
    menu << action(QStringLiteral("Focus & Account…"), ShellAction::showFocusWindow);
    menu << action(QStringLiteral("Hide Tovrick"), ShellAction::hide);
    menu << action(QStringLiteral("Quit Tovrick"), ShellAction::quit);
    return menu;
}

} // namespace statusMenu
