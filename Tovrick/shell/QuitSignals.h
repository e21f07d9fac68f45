#pragma once

#include <QObject>
#include <QString>

#include <functional>

class QSocketNotifier;

// Turns the signals that ask a process to end (SIGTERM, SIGINT, SIGHUP) into one call on the main
// thread, so they end the program the way its Quit action does instead of killing it. The handler
// only writes the signal's number into a pipe; the event loop reads it. A signal that was ignored
// when the program started (nohup, a background job) stays ignored. One instance at a time.
class QuitSignals : public QObject {
    Q_OBJECT

public:
    // `quit` is called once, with the signal's name, the first time one arrives.
    explicit QuitSignals(std::function<void(const QString& signalName)> quit, QObject* parent = nullptr);
    // Puts back the actions that were in place before.
    ~QuitSignals() override;

    // False (and nothing installed) when the pipe could not be made or another instance is active.
    bool isInstalled() const { return m_notifier != nullptr; }

private:
    void readPipe();

    std::function<void(const QString&)> m_quit;
    QSocketNotifier* m_notifier = nullptr;
    bool m_quitting = false;
};
