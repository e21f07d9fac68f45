#include "Tovrick/AppDelegate.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QPointer>
#include <QQuickView>
#include <QTimer>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/FocusPhoneCommands.h"
#include "Tovrick/assistant/ComputerActions.h"
#include "Tovrick/assistant/HostTools.h"
#include "Tovrick/assistant/RealtimeHost.h"
#include "Tovrick/codex/CodexController.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/MacFocusPanel.h"
#include "Tovrick/focus/MacFocusView.h"
#include "Tovrick/focus/MacVisionLibrary.h"
#include "Tovrick/focus/SessionSignals.h"
#include "Tovrick/shell/DemoModes.h"
#include "Tovrick/shell/StatusFile.h"
#include "Tovrick/shell/ShellControls.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/phone/PairingPanel.h"
#include "shared/account/TovrickAccount.h"
#include "shared/focus/FocusNudgePolicy.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Log.h"
#include "shared/util/Settings.h"

namespace {

Packet commandPacket(const QString& command, const QString& text)
{
    Packet packet;
    packet.command = command;
    packet.text = text;
    return packet;
}

std::optional<QString> signedInUser(const std::optional<AccountSession>& session)
{
    if (session && session->isValid(static_cast<double>(QDateTime::currentMSecsSinceEpoch())))
        return session->userId;
    return std::nullopt;
}

// The account's own recordings go with it, as the deletion's confirmation promises; a failure stops
// the deletion.
QCoro::Task<> deleteAccountRecordings(QString userId)
{
    MotivationAudioStore::shared().deleteRecordings(userId);
    co_return;
}

} // namespace

AppDelegate::AppDelegate() : AppDelegate(FocusEnvironment::production(), 0) {}

AppDelegate::AppDelegate(FocusEnvironment environment, quint16 phonePort) : m_phonePort(phonePort)
{
    Settings::shared();
    m_overlay = std::make_unique<CursorOverlay>();
    m_phone = std::make_unique<PhoneServer>();
    m_codex = std::make_unique<CodexController>();
    m_now = environment.now;
    m_session = environment.sessionSignals;
    m_focus = std::make_unique<FocusCompanion>(std::move(environment));
    m_focusPanel = std::make_unique<MacFocusPanel>();
    m_pairingPanel = std::make_unique<PairingPanel>();
}

AppDelegate::~AppDelegate()
{
    terminating();
}

void AppDelegate::launched()
{
    QPointer<AppDelegate> self(this);
    m_overlay->onFace = [self](const FaceState& face, bool atRest) {
        if (self)
            self->m_phone->sendFace(face, atRest);
    };
    m_overlay->onAwakeChange = [self](bool awake) {
        Packet packet;
        packet.command = awake ? QStringLiteral("wake") : QStringLiteral("sleep");
        if (self)
            self->m_phone->broadcast(packet);
    };
    m_overlay->start();
    // The goal photo beside a nudge: one of the account's reminder images when there is one.
    m_overlay->view().reminderImage = [] { return MacVisionLibrary::shared().randomImage().value_or(QImage()); };

    m_focus->onChange = [self](const FocusSync& sync) {
        if (!self)
            return;
        try {
            self->m_phone->broadcast(commandPacket(QStringLiteral("focusState"), QString::fromUtf8(sync.encode())));
        } catch (const JsonEncodeError&) {
            logline::warning(QStringLiteral("focus state could not be encoded; not sent"));
        }
    };
    m_focus->onNudge = [self](const QString& message, const std::optional<Target>& target) {
        if (self)
            self->deliverNudge(message, target);
    };
    m_focus->startObserving();
    // The end of the login session quits as the Quit action does (the signals do the same, in main).
    if (m_session)
        connect(m_session, &SessionSignals::ending, this, [] { QCoreApplication::quit(); });

    m_phone->onRequest = [self](const Packet& request, PhoneServer::Reply reply) {
        if (self)
            self->handleRequest(request, reply);
    };
    m_phone->onDisconnect = [self] {
        if (!self)
            return;
        focusPhoneCommands::phoneDisconnected(*self->m_focus);
        self->host().setAwake(false);
    };
    host().focus = m_focus.get();

    TovrickAccount& account = TovrickAccount::shared();
    // A refresh of the same user's session (a later expiry, say) is no change of account: only a
    // different user, or signing out, ends what the focus engine holds.
    struct Heard {
        bool any = false;
        std::optional<QString> user;
    };
    auto heard = std::make_shared<Heard>();
    account.subscribeSession(this, [self, heard](const std::optional<AccountSession>& session) {
        const std::optional<QString> user = signedInUser(session);
        // Heard before the account holds it: a valid session where there was none is a sign-in that
        // just finished (the browser's link, the phone), and the window shows that it worked.
        if (self && heard->any && user && !TovrickAccount::shared().isSignedIn())
            QTimer::singleShot(0, self.data(), [self] {
                if (self)
                    self->showSignedIn();
            });
        if (!self || (heard->any && heard->user == user))
            return;
        *heard = {true, user};
        self->m_focus->accountChanged(user);
    });
    account.prepareDeletion = [](QString userId) { return deleteAccountRecordings(std::move(userId)); };
    if (!m_phone->start(m_phonePort))
        logline::warning(QStringLiteral("the phone listener did not start"));
    account.startAccountLoop();
    if (!account.isSignedIn()) {
        logline::info(QStringLiteral("nobody is signed in"));
        showFocusWindow();
    }

    m_codex->onEvent = [self](const CodexController::Event& event) {
        if (self && event.kind == CodexController::Event::Kind::finished)
            self->relayCodexNote(event.note, event.line);
    };
    if (CodexController::isInstalled())
        [](QPointer<CodexController> codex) -> QCoro::Task<> {
            try {
                if (codex)
                    co_await codex->warmUp();
            } catch (const std::exception&) {
                logline::info(QStringLiteral("the coding agent could not be warmed up"));
            }
        }(m_codex.get());

    // The demonstration and capture modes, and the permission status file (not while capturing).
    DemoModes::Ports demoPorts;
    demoPorts.character = [this]() -> CursorView& { return m_overlay->view(); };
    demoPorts.host = [this]() -> RealtimeHost& { return host(); };
    demoPorts.exit = [](int status) { QCoreApplication::exit(status); };
    m_demos = std::make_unique<DemoModes>(std::move(demoPorts));
    m_demos->start();
    if (DemoModes::writesStatusFile()) {
        m_statusFile = std::make_unique<StatusFile>();
        m_statusFile->start();
    }

    // The status item with its menu, and the seven global hot keys.
    ShellControls::Parts shellParts;
    shellParts.overlay = m_overlay.get();
    shellParts.focus = m_focus.get();
    shellParts.codex = m_codex.get();
    shellParts.host = [this]() -> RealtimeHost& { return host(); };
    shellParts.showFocusWindow = [this] { showFocusWindow(); };
    m_shell = std::make_unique<ShellControls>(std::move(shellParts), ShellControls::Ports {});
    m_shell->start();
}

void AppDelegate::showFocusWindow()
{
    QPointer<AppDelegate> self(this);
    m_focusPanel->show(*m_focus, [self] {
        if (self)
            self->showPairingPanel();
    });
}

void AppDelegate::showSignedIn()
{
    showFocusWindow();
    m_focusPanel->view()->selectPage(static_cast<int>(FocusPage::focus));
    // When the phone brought the sign-in, the add-this-computer window stays on top: it now shows the
    // phone-link code.
    if (QQuickView* pairing = m_pairingPanel->window(); pairing && pairing->isVisible()) {
        pairing->raise();
        pairing->requestActivate();
    }
}

void AppDelegate::showPairingPanel()
{
    m_pairingPanel->show();
}

void AppDelegate::terminating()
{
    if (m_terminated)
        return;
    m_terminated = true;
    // The assistant's hands first: a held button is let go before anything else winds down.
    if (m_host)
        m_host->endToolCalls();
    m_shell.reset();
    TovrickAccount::shared().stopAccountLoop();
    if (m_focus->current() && m_focus->current()->status == FocusSession::Status::running)
        m_focus->pause(QStringLiteral("Tovrick closed"));
    m_focus->stopObserving();
    m_focus->cancelWork();
    m_codex->terminate();
    m_overlay->stop();
    m_phone->stop();
}

void AppDelegate::handleRequest(const Packet& request, const PhoneServer::Reply& reply)
{
    if (focusPhoneCommands::isFocusCommand(request)) {
        focusPhoneCommands::handle(*m_focus, request, reply, m_now());
        return;
    }
    host().handlePhoneRequest(request, reply);
}

RealtimeHost& AppDelegate::host()
{
    if (m_host)
        return *m_host;
    QPointer<FocusCompanion> focus(m_focus.get());
    HostPointing::Ports pointingPorts;
    pointingPorts.focusSession = [focus] { return focus ? focus->current() : std::optional<FocusSession>(); };
    auto pointing = std::make_shared<HostPointing>(m_overlay->view(), std::move(pointingPorts));
    HostTools::Ports toolPorts;
    toolPorts.focus = [focus] { return focus.data(); };
    toolPorts.research = [this](QString question, std::optional<QString> context) {
        return host().research(std::move(question), std::move(context));
    };
    auto actions = std::make_shared<ComputerActions>(pointing, ComputerActions::Ports {});
    toolPorts.computerControl = [actions](QString name, Json arguments, CancelToken cancel) {
        return actions->handle(std::move(name), std::move(arguments), std::move(cancel));
    };
    RealtimeHost::Ports ports;
    ports.pointing = pointing;
    ports.tools = std::make_shared<HostTools>(pointing, *m_codex, std::move(toolPorts));
    m_host = std::make_unique<RealtimeHost>(*m_codex, std::move(ports));
    return *m_host;
}

void AppDelegate::deliverNudge(const QString& message, const std::optional<Target>& target)
{
    const MotivationNudgePlan plan(&MotivationNudgePlan::fairCoin);
    host().say(message, target, plan);
    m_phone->broadcast(commandPacket(QStringLiteral("focusChirp"), message));
}

QCoro::Task<> AppDelegate::relayCodexNote(QString note, QString line)
{
    QPointer<AppDelegate> self(this);
    m_phone->broadcast(commandPacket(QStringLiteral("codexNote"), note));
    std::optional<QString> news;
    try {
        auto asking = CodexController::newsLine(note);
        news = co_await asking;
    } catch (const std::exception&) {
        news.reset(); // the job's own line stands in
    }
    if (!self)
        co_return;
    const QString said = news.value_or(line);
    self->m_phone->broadcast(commandPacket(QStringLiteral("codexChirp"), said));
    // The character says it too.
    self->host().showCaption(said);
}
