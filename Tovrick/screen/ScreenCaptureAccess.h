#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class X11Display;

// Whether the screen can be read. X11 asks for no permission, so access is the display being
// reachable and a capture working; the published state drives the focus page's screen-access row.
class ScreenCaptureAccess : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool checking READ checking NOTIFY checkingChanged)
    Q_PROPERTY(bool needsSettings READ needsSettings NOTIFY needsSettingsChanged)

public:
    static ScreenCaptureAccess& shared();
    explicit ScreenCaptureAccess(QObject* parent = nullptr);
    ~ScreenCaptureAccess() override;

    QString message() const { return m_message; }
    void setMessage(const QString& message);
    bool checking() const { return m_checking; }
    bool needsSettings() const { return m_needsSettings; }
    void setNeedsSettings(bool needsSettings);
    // A capture has succeeded since launch (the focus engine clears it when capture is declined).
    bool confirmedByCapture() const { return m_confirmedByCapture; }
    void setConfirmedByCapture(bool confirmed) { m_confirmedByCapture = confirmed; }

    // The display can be reached: the program's own connection to it is up. Asks the server nothing
    // once a connection is held.
    bool preflight() const;

    // One test capture of the main display. False at once while another check runs; on failure
    // `message` explains and `needsSettings` becomes true; success clears both.
    QCoro::Task<bool> check();

    // There is no screen-recording pane on this desktop: explains that in `message` instead.
    Q_INVOKABLE void openSettings();

    // Starts a detached shell that waits a second and starts this program again, then quits.
    Q_INVOKABLE void relaunch();

    // Seams: the test capture (throws on failure), what relaunch starts and how it quits.
    std::function<QCoro::Task<void>()> testCapture;
    QString relaunchShell = QStringLiteral("/bin/sh");
    QString relaunchProgram;       // default: this program
    QStringList relaunchArguments; // default: this program's arguments
    std::function<void()> quit;

signals:
    void messageChanged();
    void checkingChanged();
    void needsSettingsChanged();

private:
    void setChecking(bool checking);

    QString m_message;
    bool m_checking = false;
    bool m_needsSettings = false;
    bool m_confirmedByCapture = false;
    mutable std::unique_ptr<X11Display> m_display; // off X11's own platform only
};
