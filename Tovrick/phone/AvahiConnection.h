#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

struct AvahiClient;
struct AvahiPoll;

// Avahi's watches and timeouts on the Qt event loop of the main thread.
std::unique_ptr<AvahiPoll> makeQtAvahiPoll();

// One client of the Avahi daemon. It waits for a daemon that is not there yet and reconnects after one
// goes away, so the owner only hears when a running client is ready and when it is gone. The owner
// creates its entry groups and browsers in onRunning and frees them in onStopped (before the client is
// freed).
class AvahiConnection : public QObject {
    Q_OBJECT

public:
    explicit AvahiConnection(QObject* parent = nullptr);
    ~AvahiConnection() override;

    // Connects; false (with the reason logged by the caller from error()) when no client can be made at
    // all, for instance without a system bus.
    bool open();
    AvahiClient* client() const { return m_running; }
    QString error() const { return m_error; }

    std::function<void(AvahiClient*)> onRunning;
    // The client stopped running: the daemon is not there, went away or is renaming the host.
    std::function<void(const QString& why)> onStopped;

private:
    static void stateChanged(AvahiClient* client, int state, void* self);
    void handleState(AvahiClient* client, int state);
    void reconnect();
    void stopped(const QString& why);

    std::unique_ptr<AvahiPoll> m_poll;
    AvahiClient* m_client = nullptr;
    AvahiClient* m_running = nullptr;
    QString m_error;
};
