#pragma once

#include <QCoro/QCoroTask>
#include <QString>

#include <functional>
#include <memory>

// The recorder's ways into the world, each small enough for a test to replace.

// Whether the microphone may be used. Asking may take a while (a device to open, a user to answer).
class MicrophoneAccess {
public:
    virtual ~MicrophoneAccess() = default;
    // True when recording may start. Never throws; the asker re-checks its own state afterwards.
    virtual QCoro::Task<bool> request() = 0;
};

// One running recording into a file.
class ClipRecording {
public:
    virtual ~ClipRecording() = default;
    // Seconds recorded so far.
    virtual double currentTime() const = 0;
    // Ends the recording; onFinished follows once the file is complete. Safe to call more than once.
    virtual void stop() = 0;

    // Reported once on the main thread when the file is complete (after stop() or at the time limit):
    // true when it holds the recording, false when it broke off. Never reported after destruction;
    // destroying a recording stops it at once and closes its file.
    std::function<void(bool successfully)> onFinished;
    // Reported on the main thread when encoding fails while recording.
    std::function<void(const QString& reason)> onEncodeError;
};

// Starts recordings of spoken clips: AAC in MPEG-4, 24 kHz, mono, 48 kbit/s.
class ClipRecorder {
public:
    virtual ~ClipRecorder() = default;
    // Records the default input to `path` for at most `seconds`. Throws UserFacingError when the
    // recorder cannot be set up; none when it refuses to start.
    virtual std::unique_ptr<ClipRecording> record(const QString& path, double seconds) = 0;
};
