#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "Tovrick/motivation/MotivationRecorder.h"

class MotivationAudioStore;

// The desktop's sound settings, where the input can be chosen and unmuted.
struct SoundSettingsTool {
    QString program;
    QStringList arguments;

    // The first installed of the desktop's tools; none when there is none.
    static std::optional<SoundSettingsTool> find();
};

// The rules of the recording sheet: one recorder per presentation, started as the sheet comes up,
// its progress as text, and the save that hands the recording to the store. QML lays it out.
class MotivationRecordingView : public QObject {
    Q_OBJECT
    // "preparing", "recording", "stopped" or "failed".
    Q_PROPERTY(QString phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(QString timeText READ timeText NOTIFY timeTextChanged)
    Q_PROPERTY(QString message READ message NOTIFY phaseChanged)
    Q_PROPERTY(bool settingsShown READ settingsShown NOTIFY phaseChanged)
    Q_PROPERTY(bool saving READ saving NOTIFY savingChanged)
    Q_PROPERTY(QString saveTitle READ saveTitle NOTIFY savingChanged)
    Q_PROPERTY(QString error READ error NOTIFY errorChanged)

public:
    struct Ports {
        // Both outlive the sheet; none means the program's own.
        ClipRecorder* recorder = nullptr;
        MicrophoneAccess* access = nullptr;
        std::optional<SoundSettingsTool> settings = SoundSettingsTool::find();
        // Starts the tool apart from this program; false when it could not be started.
        std::function<bool(const SoundSettingsTool&)> launch;
    };

    MotivationRecordingView(MotivationAudioStore& store, Ports ports, QObject* parent = nullptr);
    ~MotivationRecordingView() override;

    MotivationRecorder& recorder() { return m_recorder; }

    QString phase() const;
    // Whole seconds, cut toward zero, against the limit: "7 / 20 Sekunden".
    QString timeText() const;
    const QString& message() const { return m_recorder.message(); }
    bool settingsShown() const { return m_recorder.needsMicrophoneSettings() && m_ports.settings.has_value(); }
    bool saving() const { return m_saving; }
    QString saveTitle() const;
    const QString& error() const { return m_error; }

    // The sheet came on screen: recording starts by itself.
    void appear();
    // The sheet went away, whatever the cause: the recording and its file go.
    void disappear();
    // The window's active state changed after the sheet came up.
    Q_INVOKABLE void setSceneActive(bool active);

    Q_INVOKABLE void stopRecording() { m_recorder.stop(); }
    Q_INVOKABLE void save();
    // "Löschen": throws the recording away and closes.
    Q_INVOKABLE void discard();
    // "Schließen".
    Q_INVOKABLE void close();
    Q_INVOKABLE void openMicrophoneSettings();

signals:
    void phaseChanged();
    void timeTextChanged();
    void savingChanged();
    void errorChanged();
    // Asks the presenter to close the sheet.
    void dismissRequested();

private:
    void setSaving(bool saving);
    void setError(const QString& error);

    MotivationAudioStore& m_store;
    Ports m_ports;
    MotivationRecorder m_recorder;
    bool m_saving = false;
    QString m_error;
    bool m_appeared = false;
    bool m_gone = false;
};
