#pragma once

#include <QString>

#include "Tovrick/motivation/MotivationRecorderPorts.h"

// Records from the sound server's default input with GStreamer: AAC at 24 kHz, mono, 48 kbit/s, in
// an MPEG-4 file. Qt Multimedia's recorder on Qt 6.4 ignores the sample rate, channel count and bit
// rate it is given (it writes 44.1 kHz stereo at 128 kbit/s), which would also put a 20-second clip
// over the library's size bound; so the pipeline is built here.
class GstClipRecorder : public ClipRecorder {
public:
    static GstClipRecorder& shared();

    std::unique_ptr<ClipRecording> record(const QString& path, double seconds) override;

    // The pipeline up to the file, without the file sink; empty when no AAC encoder is installed.
    static QString pipelineDescription();
    // The element the recordings take their sound from.
    static QString sourceElement();
};
