#pragma once

#include <QByteArray>
#include <QPointer>
#include <QUrl>

#include "Tovrick/motivation/MotivationAudioPorts.h"

class QMediaPlayer;

// One sound played by Qt Multimedia, from a file or from bytes in memory (a WAV made by the speech).
class QtClipPlayback : public ClipPlayback {
public:
    explicit QtClipPlayback(const QUrl& file);
    explicit QtClipPlayback(const QByteArray& bytes);
    ~QtClipPlayback() override;

    bool play() override;
    void stop() override;

private:
    void connectPlayer();
    void report(bool successfully);

    // Owns the player, its output and its buffer; deleted later, since a report may come from
    // inside one of the player's own signals.
    QPointer<QObject> m_holder;
    QMediaPlayer* m_player = nullptr;
    bool m_reported = false;
};

// Opens own clips (MPEG-4 audio) for Qt Multimedia.
class QtClipPlayer : public ClipPlayer {
public:
    std::unique_ptr<ClipPlayback> open(const QString& path) override;
};
