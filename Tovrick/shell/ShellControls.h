#pragma once

#include <QByteArray>
#include <QDBusConnection>
#include <QObject>
#include <QPointer>
#include <QUrl>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/shell/StatusMenu.h"

class CodexController;
class CursorOverlay;
class FocusCompanion;
class GlobalHotKeys;
class RealtimeHost;
class StatusNotifierTray;

// The status menu, the app menu's items and the global hot keys, over the program's long-lived
// objects: reads their state when the menu opens and carries out what the user chose.
class ShellControls : public QObject {
    Q_OBJECT

public:
    // What it acts on; all outlive it.
    struct Parts {
        CursorOverlay* overlay = nullptr;
        FocusCompanion* focus = nullptr;
        CodexController* codex = nullptr;
        std::function<RealtimeHost&()> host;
        std::function<void()> showFocusWindow;
    };
    // Its reach into the desktop; what is left empty gets the real one.
    struct Ports {
        std::optional<QDBusConnection> bus;   // the session bus by default
        QByteArray display;                   // $DISPLAY by default
        std::function<void()> quit;
        std::function<void()> hide;
        std::function<void(const QUrl&)> openUrl;
        // Asks the user for one folder; answers once, with none when nothing was chosen.
        std::function<void(std::function<void(std::optional<QString>)>)> chooseFolder;
        // Whether the coding agent is installed; its fixed places by default.
        std::function<bool()> codingAgentInstalled;
        bool hotKeys = true;
    };

    static constexpr const char* kStopReason = "Stopped with Ctrl+Alt+S";

    ShellControls(Parts parts, Ports ports, QObject* parent = nullptr);
    // Releases the hot keys and takes the status item away.
    ~ShellControls() override;

    // Publishes the status item and grabs the hot keys, each logging once when the desktop has none.
    void start();

    StatusMenuState state() const;
    void perform(ShellAction action, const QString& argument = {});
    // The menu changed under the user: tell the tray.
    void refresh();

    StatusNotifierTray* tray() const { return m_tray.get(); }
    GlobalHotKeys* hotKeys() const { return m_hotKeys.get(); }

private:
    void stop();
    void addFolder();
    void say(const QString& reply);

    Parts m_parts;
    Ports m_ports;
    std::unique_ptr<StatusNotifierTray> m_tray;
    std::unique_ptr<GlobalHotKeys> m_hotKeys;
};
