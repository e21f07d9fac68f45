#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>

#include "Tovrick/screen/ScreenCaptureAccess.h"

// The permission status file: what this program may do on the desktop right now, for scripts and
// helpers outside it, rewritten every 3 s while it runs.
class StatusFile : public QObject {
    Q_OBJECT

public:
    struct Permissions {
        bool screen = false;        // the X display can be captured
        bool accessibility = false; // the accessibility bus answers
    };

    // "status.txt" in the "Fennow" folder beside the program's own data folder.
    static QString defaultPath();
    // What the desktop allows now. Quick: the display connection `access` holds and one question to
    // the bus daemon.
    static Permissions probeDesktop(const ScreenCaptureAccess& access);
    // The file's text: one "name=value" line per permission, then the time of writing (UTC).
    static QByteArray render(const Permissions& permissions, const QDateTime& at);

    explicit StatusFile(QString path = defaultPath(), QObject* parent = nullptr);

    // Writes now, then every `intervalMs`.
    void start(int intervalMs = 3000);
    void stop() { m_timer.stop(); }
    bool isRunning() const { return m_timer.isActive(); }
    // One write; false (logged once per run of failures) when the file cannot be written.
    bool writeNow();

    std::function<Permissions()> probe = [] { return probeDesktop(ScreenCaptureAccess::shared()); };

private:
    QString m_path;
    QTimer m_timer;
    bool m_failing = false;
};
