#pragma once

#include <QCoro/QCoroTask>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "shared/link/LineConnection.h"
#include "shared/link/Packet.h"

class ServiceBrowser;
struct FocusSync;

// A command-line check that plays the phone against a running copy of the app: finds its phone-link
// service, authenticates with this machine's pairing key, drives a focus session through the phone
// commands and checks every state the app reports. Prints "LIVE …" lines; the result is the exit status.
class FocusLinkProbe : public QObject {
    Q_OBJECT

public:
    struct Options {
        // Where to connect instead of browsing (tests without service discovery).
        std::optional<QHostAddress> address;
        quint16 port = 0;
        double timeLimit = 80; // seconds from creation
        double pauseHold = 3;  // seconds a pause is watched before resuming
        std::FILE* out = stdout;
    };

    // Runs one probe to its end and answers the exit status: 0 when every step was confirmed.
    static QCoro::Task<int> run(bool developerMode, bool nudge);
    static QCoro::Task<int> run(bool developerMode, bool nudge, Options options);

    FocusLinkProbe(bool developerTest, bool nudgeTest, Options options);
    ~FocusLinkProbe() override;

    static inline const QString kTask = QStringLiteral("Tovrick integration test: build the focus friend Mac and iPhone apps");

    void start();
    void finish(int status, const QString& message);
    void send(const QString& command);

    std::function<void(int)> complete;

signals:
    // The run's exit status, once.
    void finished(int status);

private:
    void browsed();
    void connectTo(const QHostAddress& address, quint16 port, const QByteArray& key);
    void onAuthenticated();
    void tick();
    void handle(const Packet& packet);
    void handleState(const FocusSync& sync);
    void print(const QString& line);
    // Prints the run's one closing line and reports its status, once.
    void end(int status, const QString& line);
    double secondsSince(const QElapsedTimer& timer) const;

    Options m_options;
    std::unique_ptr<ServiceBrowser> m_browser;
    QPointer<LineConnection> m_link;
    QTimer m_timer;
    QElapsedTimer m_began;
    QString m_phase = QStringLiteral("discover");
    QElapsedTimer m_pausedAt; // invalid until a pause is seen
    double m_pausedElapsed = 0;
    double m_resumedElapsed = 0;
    bool m_checked = false;
    bool m_developerTest = false;
    bool m_nudgeTest = false;
    bool m_previousDeveloperMode = false;
};
