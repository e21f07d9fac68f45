#include "Tovrick/shell/ShellControls.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QStandardPaths>
#include <QWindow>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/assistant/MeetingNotes.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/codex/CodexProjects.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/shell/GlobalHotKeys.h"
#include "Tovrick/shell/StatusNotifierTray.h"
#include "shared/art/ButlerArtwork.h"
#include "shared/util/Log.h"
#include "shared/util/Settings.h"

namespace {

const QString kFoldersKey = QStringLiteral("codexFolders");

QImage portrait()
{
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    ButlerArtwork::paint(painter, QRectF(4, 4, 120, 120), ButlerPose {});
    return image;
}

// The windows a user hides: everything but the character and the countdown, which sit over the
// desktop and let every click through.
void hideWindows()
{
    for (QWindow* window : QGuiApplication::topLevelWindows())
        if (window->isVisible() && !(window->flags() & Qt::WindowTransparentForInput))
            window->hide();
}

// The desktop's own folder chooser, as a child process: GNOME's or KDE's.
void chooseFolderWithDesktopTool(std::function<void(std::optional<QString>)> done)
{
    QString program = QStandardPaths::findExecutable(QStringLiteral("zenity"));
    QStringList arguments {QStringLiteral("--file-selection"), QStringLiteral("--directory"),
                           QStringLiteral("--title=Choose a project folder for Codex")};
    if (program.isEmpty()) {
        program = QStandardPaths::findExecutable(QStringLiteral("kdialog"));
        arguments = {QStringLiteral("--getexistingdirectory"), QDir::homePath()};
    }
    if (program.isEmpty()) {
        logline::info(QStringLiteral("no folder chooser (zenity or kdialog) is installed: add folders to "
                                     "\"codexFolders\" in the settings file instead"));
        done(std::nullopt);
        return;
    }
    auto* process = new QProcess();
    QObject::connect(process, &QProcess::finished, process, [process, done](int code, QProcess::ExitStatus status) {
        process->deleteLater();
        const QString path = QString::fromLocal8Bit(process->readAllStandardOutput()).trimmed();
        done(status == QProcess::NormalExit && code == 0 && QDir(path).exists() ? std::optional(path) : std::nullopt);
    });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, done](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        done(std::nullopt);
    });
    process->start(program, arguments);
}

} // namespace

ShellControls::ShellControls(Parts parts, Ports ports, QObject* parent)
    : QObject(parent), m_parts(std::move(parts)), m_ports(std::move(ports))
{
    if (!m_ports.bus)
        m_ports.bus = QDBusConnection::sessionBus();
    if (!m_ports.quit)
        m_ports.quit = [] { QCoreApplication::quit(); };
    if (!m_ports.hide)
        m_ports.hide = hideWindows;
    if (!m_ports.openUrl)
        m_ports.openUrl = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!m_ports.chooseFolder)
        m_ports.chooseFolder = chooseFolderWithDesktopTool;
    if (!m_ports.codingAgentInstalled)
        m_ports.codingAgentInstalled = [] { return CodexController::isInstalled(); };
}

ShellControls::~ShellControls() = default;

void ShellControls::start()
{
    QPointer<ShellControls> self(this);
    StatusNotifierTray::Ports trayPorts;
    trayPorts.build = [self] { return self ? statusMenu::items(self->state()) : QList<StatusMenuItem>(); };
    trayPorts.choose = [self](const StatusMenuItem& item) {
        if (self)
            self->perform(item.action, item.argument);
    };
    trayPorts.icon = portrait();
    m_tray = std::make_unique<StatusNotifierTray>(*m_ports.bus, std::move(trayPorts));
    m_tray->start();

    // What the menu shows changes with these.
    const auto changed = [self] {
        if (self)
            self->refresh();
    };
    m_parts.codex->onChange = changed;
    m_parts.host().onChange = changed;
    connect(m_parts.focus, &FocusCompanion::currentChanged, this, &ShellControls::refresh);
    connect(m_parts.focus, &FocusCompanion::developerModeChanged, this, &ShellControls::refresh);
    connect(&Settings::shared(), &Settings::changed, this, &ShellControls::refresh);

    if (!m_ports.hotKeys)
        return;
    m_hotKeys = std::make_unique<GlobalHotKeys>(
        [self](ShellAction action) {
            if (self)
                self->perform(action);
        },
        m_ports.display);
    m_hotKeys->grab(shellHotKeys());
}

void ShellControls::refresh()
{
    if (m_tray)
        m_tray->refresh();
}

StatusMenuState ShellControls::state() const
{
    StatusMenuState state;
    state.characterAwake = m_parts.overlay->view().engine().awake();
    state.followMouse = Settings::shared().followMouse();
    state.computerControl = Settings::shared().computerControl();
    if (const auto& session = m_parts.focus->current(); session && session->status != FocusSession::Status::ended)
        state.session = StatusMenuState::Session {session->status == FocusSession::Status::running, session->task,
                                                  session->duration - session->elapsed};
    state.developerMode = m_parts.focus->developerMode();
    state.codingAgentInstalled = m_ports.codingAgentInstalled();
    for (const CodexController::Job& job : m_parts.codex->jobs)
        state.jobs << StatusMenuState::Job {job.project, job.status, job.threadID};
    state.approvals = static_cast<int>(m_parts.codex->approvals.size());
    state.folders = Settings::shared().stringList(kFoldersKey).value_or(QStringList());
    return state;
}

void ShellControls::perform(ShellAction action, const QString& argument)
{
    FocusCompanion& focus = *m_parts.focus;
    Settings& settings = Settings::shared();
    switch (action) {
    case ShellAction::none:
        break;
    case ShellAction::showFocusWindow:
        m_parts.showFocusWindow();
        break;
    case ShellAction::pauseOrResume: {
        const auto& session = focus.current();
        if (session && session->status == FocusSession::Status::running)
            say(focus.pause(QStringLiteral("Paused")));
        else if (session && session->status == FocusSession::Status::paused)
            say(focus.resume());
        break;
    }
    case ShellAction::endFocus:
        if (focus.current() && focus.current()->status != FocusSession::Status::ended)
            say(focus.end());
        break;
    case ShellAction::toggleDeveloperMode:
        say(focus.setDeveloperMode(!focus.developerMode()));
        break;
    case ShellAction::toggleAwake:
        // Through the host, so that going to sleep also calls off what the assistant was doing.
        m_parts.host().setAwake(!m_parts.overlay->view().engine().awake());
        break;
    case ShellAction::toggleFollowMouse:
        settings.setBool(QStringLiteral("followMouse"), !settings.followMouse());
        break;
    case ShellAction::toggleComputerControl:
        settings.setComputerControl(!settings.computerControl());
        break;
    case ShellAction::stop:
        stop();
        break;
    case ShellAction::openJob:
        m_parts.codex->openThread(argument);
        break;
    case ShellAction::openCodexApp:
        m_parts.codex->openInApp(std::nullopt);
        break;
    case ShellAction::addFolder:
        addFolder();
        break;
    case ShellAction::forgetFolders:
        CodexProjects::saveFolders({});
        break;
    case ShellAction::openNotes: {
        const QString root = MeetingNotes::notesRoot();
        QDir().mkpath(root);
        m_ports.openUrl(QUrl::fromLocalFile(root));
        break;
    }
    case ShellAction::hide:
        m_ports.hide();
        break;
    case ShellAction::quit:
        m_ports.quit();
        break;
    }
    refresh();
}

void ShellControls::stop()
{
    m_parts.host().stop();
    const auto& session = m_parts.focus->current();
    if (session && session->status == FocusSession::Status::running)
        m_parts.focus->pause(QString::fromUtf8(kStopReason));
}

void ShellControls::addFolder()
{
    QPointer<ShellControls> self(this);
    m_ports.chooseFolder([self](std::optional<QString> folder) {
        if (!self || !folder)
            return;
        QStringList folders = Settings::shared().stringList(kFoldersKey).value_or(QStringList());
        const QString path = QDir::cleanPath(*folder);
        if (folders.contains(path))
            return;
        folders << path;
        CodexProjects::saveFolders(folders);
        self->refresh();
    });
}

void ShellControls::say(const QString& reply)
{
    // The engine's sentence, where the user is looking.
    if (!reply.isEmpty())
        m_parts.overlay->view().showLabel(reply, 2.4);
    logline::info(QStringLiteral("status menu: ") + reply);
}
