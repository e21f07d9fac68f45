#pragma once

#include "Tovrick/motivation/MotivationRecorderPorts.h"

// Microphone access on a desktop without a permission system: granted when the sound server has a
// default input and delivers sound from it, refused when it has none or does not accept the stream.
class SoundServerMicrophoneAccess : public MicrophoneAccess {
public:
    static SoundServerMicrophoneAccess& shared();

    QCoro::Task<bool> request() override;
};
