#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/phone/PhoneServer.h"
#include "Tovrick/screen/ScreenSnapshot.h"

class CodexController;
class CursorOverlay;
class DemoModes;
class FocusCompanion;
class MacFocusPanel;
class PairingPanel;
class SessionSignals;
class RealtimeHost;
class StatusFile;
class ShellControls;
struct FocusEnvironment;

// Owns the long-lived objects of one run, wires them together at launch and takes them down at exit.
class AppDelegate : public QObject {
    Q_OBJECT

public:
    // Creates the settings, the character overlay, the phone listener, the coding-agent bridge and the
    // focus engine, in that order. Nothing runs until launched().
    AppDelegate();
    // Tests hand in the focus engine's world and the phone listener's port.
    AppDelegate(FocusEnvironment environment, quint16 phonePort);
    ~AppDelegate() override;

    // Connects everything and starts the timers, the listener and the account loop.
    void launched();
    // Pauses a running session ("Tovrick closed"), stops the checks, the timers and the agent.
    void terminating();

    PhoneServer& phoneServer() { return *m_phone; }
    CursorOverlay& overlay() { return *m_overlay; }
    FocusCompanion& focus() { return *m_focus; }
    CodexController& codex() { return *m_codex; }
    MacFocusPanel& focusPanel() { return *m_focusPanel; }
    // Shows the focus and account window (made on first use).
    void showFocusWindow();
    // Shows the add-this-computer window (made on first use); signed out, with a new code.
    void showPairingPanel();
    PairingPanel& pairingPanel() { return *m_pairingPanel; }
    // The assistant host, made on first use.
    RealtimeHost& host();
    // The status menu and the global hot keys, from launched() until terminating().
    ShellControls* shell() { return m_shell.get(); }

private:
    // After a sign-in: the focus window, raised, on its Focus page.
    void showSignedIn();
    void handleRequest(const Packet& request, const PhoneServer::Reply& reply);
    void deliverNudge(const QString& message, const std::optional<Target>& target);
    QCoro::Task<> relayCodexNote(QString note, QString line);

    std::function<double()> m_now;
    quint16 m_phonePort = 0;
    std::unique_ptr<CursorOverlay> m_overlay;
    std::unique_ptr<PhoneServer> m_phone;
    std::unique_ptr<CodexController> m_codex;
    std::unique_ptr<FocusCompanion> m_focus;
    std::unique_ptr<MacFocusPanel> m_focusPanel;
    std::unique_ptr<PairingPanel> m_pairingPanel;
    QPointer<SessionSignals> m_session;
    // Holds the coding agent: declared after it, so it goes first.
    std::unique_ptr<RealtimeHost> m_host;
    // The demonstration modes and the permission status file.
    std::unique_ptr<DemoModes> m_demos;
    std::unique_ptr<StatusFile> m_statusFile;
    // Acts on everything above, so it goes first.
    std::unique_ptr<ShellControls> m_shell;
    bool m_terminated = false;
};
