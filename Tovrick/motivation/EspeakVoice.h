#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

#include "Tovrick/motivation/MotivationAudioPorts.h"

class GstClipPlayback;

// Speech made in process by libespeak-ng (no daemon, no device needed to synthesise) and played
// through GStreamer, as the clips are.
class EspeakVoice : public SpeechVoice {
public:
    EspeakVoice();
    ~EspeakVoice() override;

    void speak(const QString& text, const QString& language, double rate) override;
    void stopSpeaking() override;
    bool isSpeaking() const override { return m_speaking; }

    // A 16-bit mono WAV of the text in the voice of `language` (the default voice when there is
    // none); empty when espeak-ng cannot speak at all.
    static QByteArray synthesizeWav(const QString& text, const QString& language, double rate);

private:
    std::unique_ptr<GstClipPlayback> m_playback;
    bool m_speaking = false;
};
