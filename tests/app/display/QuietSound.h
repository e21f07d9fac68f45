#pragma once

#include "Tovrick/motivation/MotivationAudioError.h"
#include "Tovrick/motivation/MotivationAudioPorts.h"
#include "Tovrick/motivation/MotivationRecorderPorts.h"

#include <QCoroTask>

#include <memory>

// A granted microphone whose recordings stay empty, so a stop ends them at once as too short;
// nothing plays.
struct QuietSound : ClipRecorder, MicrophoneAccess {
    struct Recording : ClipRecording {
        double currentTime() const override { return 0; }
        void stop() override { }
    };
    struct NoPlayer : ClipPlayer {
        std::unique_ptr<ClipPlayback> open(const QString&) override
        {
            throw MotivationFileError(QStringLiteral("no playback here"));
        }
    };
    struct NoVoice : SpeechVoice {
        void speak(const QString&, const QString&, double) override { }
        void stopSpeaking() override { }
        bool isSpeaking() const override { return false; }
    };
    QCoro::Task<bool> request() override { co_return true; }
    std::unique_ptr<ClipRecording> record(const QString&, double) override { return std::make_unique<Recording>(); }
};
