#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>
#include <QUuid>

#include <memory>
#include <optional>

#include "Tovrick/motivation/MotivationRecorderPorts.h"

class MotivationAudioStore;

// Records one spoken clip of at most 20 seconds into a temporary file, for the recording sheet.
// While it records, the store plays nothing. One object serves one recording: a new attempt takes a
// new recorder (with a new client id). Lives on the main thread.
class MotivationRecorder : public QObject {
    Q_OBJECT
    Q_PROPERTY(Phase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(double elapsed READ elapsed NOTIFY elapsedChanged)
    Q_PROPERTY(bool needsMicrophoneSettings READ needsMicrophoneSettings NOTIFY needsMicrophoneSettingsChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)

public:
    enum class Phase { preparing, recording, stopped, failed };
    Q_ENUM(Phase)

    static constexpr double kLongest = 20.0;
    static constexpr double kShortest = 0.1; // a recording must last strictly longer
    static constexpr int kTickMilliseconds = 100;

    // `recorder` and `access` outlive this object; by default the program's GStreamer recorder and
    // sound-server access.
    explicit MotivationRecorder(MotivationAudioStore& store, ClipRecorder* recorder = nullptr,
                                MicrophoneAccess* access = nullptr, QObject* parent = nullptr);
    ~MotivationRecorder() override;

    Phase phase() const { return m_phase; }
    double elapsed() const { return m_elapsed; }
    bool needsMicrophoneSettings() const { return m_needsMicrophoneSettings; }
    const QString& message() const { return m_message; }
    // The file recorded into; none before access was granted.
    const std::optional<QString>& url() const { return m_url; }
    double duration() const { return m_duration; }
    const QUuid& clientId() const { return m_clientId; }

    // Asks for the microphone and starts recording.
    QCoro::Task<> start();
    // Ends a running recording by the user's choice; nothing in any other phase.
    Q_INVOKABLE void stop();
    // Abandons the recording and deletes its file; later events are ignored.
    Q_INVOKABLE void cancel();

signals:
    void phaseChanged();
    void elapsedChanged();
    void needsMicrophoneSettingsChanged();
    void messageChanged();

private:
    void tick();
    void recordingFinished(bool successfully);
    void encodeFailed();
    void releaseStore();

    void setPhase(Phase phase);
    void setElapsed(double elapsed);
    void setMessage(const QString& message);

    MotivationAudioStore& m_store;
    ClipRecorder& m_recorder;
    MicrophoneAccess& m_access;
    Phase m_phase = Phase::preparing;
    double m_elapsed = 0;
    bool m_needsMicrophoneSettings = false;
    QString m_message;
    std::unique_ptr<ClipRecording> m_recording;
    QTimer m_timer;
    std::optional<QString> m_url;
    double m_duration = 0;
    const QUuid m_clientId = QUuid::createUuid();
    bool m_cancelled = false;
    // Stopped by the user, with the file not yet complete: the phase waits for it.
    bool m_finishing = false;
};
