#pragma once

#include <QByteArray>

// The voice turn's audio format: 16-bit little-endian PCM, one channel, 24,000 samples a second.
namespace VoiceAudio {

inline constexpr int kSampleRate = 24000;
inline constexpr int kBytesPerSecond = kSampleRate * 2;

// A WAV file of `pcm`: the fixed 44-byte header for the format above, then the samples unchanged.
// The caller keeps `pcm` small enough for the header's 32-bit sizes.
QByteArray wav(const QByteArray& pcm);

} // namespace VoiceAudio
