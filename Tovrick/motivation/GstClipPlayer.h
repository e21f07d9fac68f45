#pragma once

#include <QByteArray>
#include <QString>
#include <QTimer>

#include <optional>

#include "Tovrick/motivation/MotivationAudioPorts.h"

typedef struct _GstElement GstElement;
typedef struct _GstBus GstBus;

// One sound played by GStreamer to the sound server, from a file or from a WAV in memory (the
// speech's). The recordings use GStreamer too, so the program keeps a single audio stack, and a
// pipeline taken down to its null state leaves no sound-server connection behind for exit.
class GstClipPlayback : public ClipPlayback {
public:
    static std::unique_ptr<GstClipPlayback> fromFile(const QString& path);
    static std::unique_ptr<GstClipPlayback> fromWav(const QByteArray& wav);
    ~GstClipPlayback() override;

    bool play() override;
    void stop() override;

private:
    GstClipPlayback(GstElement* pipeline, const QString& failure);
    void poll();
    std::optional<QString> busError();
    void report(bool successfully);
    void release();

    GstElement* m_pipeline = nullptr;
    GstBus* m_bus = nullptr;
    // Why the pipeline could not be built; play() then refuses.
    QString m_failure;
    // The speech's sound, queued once the source runs.
    QByteArray m_wav;
    bool m_reported = false;
    QTimer m_poll;
};

// Opens own clips (MPEG-4 audio) for GStreamer.
class GstClipPlayer : public ClipPlayer {
public:
    std::unique_ptr<ClipPlayback> open(const QString& path) override;
};
