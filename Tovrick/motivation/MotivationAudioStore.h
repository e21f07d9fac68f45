#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <memory>
#include <optional>

#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioPorts.h"
#include "Tovrick/motivation/MotivationLibrary.h"

// The one process-wide keeper of motivation clips: follows the signed-in account, publishes that
// owner's library, changes it for the screens and plays clips (own clips from their files, default
// clips as speech). Lives on the main thread; every operation runs to its end without waiting.
class MotivationAudioStore : public QObject {
    Q_OBJECT
    Q_PROPERTY(MotivationLibrary library READ library NOTIFY libraryChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY busyChanged)
    // Empty when nothing plays.
    Q_PROPERTY(QString playingID READ playingIDText NOTIFY playingIDChanged)
    Q_PROPERTY(QString message READ message NOTIFY messageChanged)
    Q_PROPERTY(bool recordingActive READ recordingActive WRITE setRecordingActive NOTIFY recordingActiveChanged)

public:
    using AudioError = MotivationAudioError;
    static constexpr int limit = motivation::limit;
    static QString placeholder() { return motivation::placeholder(); }
    static const QStringList& defaultTitles() { return motivation::defaultTitles(); }

    struct Ports {
        std::unique_ptr<ClipOwnerFeed> owners;
        std::unique_ptr<ClipPlayer> player;
        std::unique_ptr<SpeechVoice> speech;
        RandomIndex random;
    };

    // The store of the running program, created on first use with the real account, GStreamer and
    // espeak-ng.
    static MotivationAudioStore& shared();

    explicit MotivationAudioStore(Ports ports, QObject* parent = nullptr);
    ~MotivationAudioStore() override;

    const MotivationLibrary& library() const { return m_library; }
    bool busy() const { return m_busy; }
    const std::optional<QString>& playingID() const { return m_playingID; }
    QString playingIDText() const { return m_playingID.value_or(QString()); }
    const QString& message() const { return m_message; }
    // The account whose folder is in use; none when signed out.
    const std::optional<QString>& owner() const { return m_owner; }

    // Set by the recorder while it records: nothing plays meanwhile.
    bool recordingActive() const { return m_recordingActive; }
    void setRecordingActive(bool active);

    // The clip folder of an account, or of the signed-out state; empty when the app folder is missing.
    static QString directoryFor(const std::optional<QString>& owner);

    Q_INVOKABLE void refresh();
    Q_INVOKABLE bool enabled(const QString& id) const;
    Q_INVOKABLE void setEnabled(const QString& id, bool value);
    // Turns a finished recording into an own clip of the current owner. Throws AudioError busy or
    // invalid, or a file error; the recorded file itself is left alone.
    void save(const QString& path, double recorderDuration, const QUuid& clientId);
    Q_INVOKABLE void remove(const MotivationClip& clip);
    Q_INVOKABLE void play(const QString& id);
    Q_INVOKABLE void stop();
    // Plays one enabled clip at random for a signed-in owner, unless something plays or records.
    void nudge();
    // Removes an account's whole clip folder (before the account is deleted). Throws a file error.
    void deleteRecordings(const QString& userId);

signals:
    void libraryChanged();
    void busyChanged();
    void playingIDChanged();
    void messageChanged();
    void recordingActiveChanged();

private:
    void setOwner(const std::optional<QString>& owner);
    LocalMotivationLibrary currentLibrary() const;
    void performPlayback(const QString& id, const std::optional<QString>& notedOwner, quint64 generation);
    void playbackFailed(const QString& description, const std::optional<QString>& notedOwner, quint64 generation);
    void playerFinished(quint64 serial);
    void speechFinished();

    void setLibrary(MotivationLibrary library);
    void setBusy(bool busy);
    void setPlayingID(std::optional<QString> id);
    void setMessage(QString message);

    Ports m_ports;
    MotivationLibrary m_library;
    bool m_busy = false;
    std::optional<QString> m_playingID;
    QString m_message;
    std::unique_ptr<ClipPlayback> m_player;
    quint64 m_playerSerial = 0;
    std::optional<QString> m_owner;
    bool m_recordingActive = false;
    // A started playback that has not run yet belongs to this generation; stop() moves it on.
    quint64 m_playbackGeneration = 0;
    bool m_playbackPending = false;
};
