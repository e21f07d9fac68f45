#include "shared/voice/VoiceAudio.h"

#include <cstdint>

namespace {

void put32(QByteArray& out, std::uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out.append(static_cast<char>((value >> shift) & 0xFF));
}

void put16(QByteArray& out, std::uint16_t value)
{
    out.append(static_cast<char>(value & 0xFF));
    out.append(static_cast<char>((value >> 8) & 0xFF));
}

} // namespace

QByteArray VoiceAudio::wav(const QByteArray& pcm)
{
    const auto size = static_cast<std::uint32_t>(pcm.size());
    QByteArray out;
    out.reserve(44 + pcm.size());
    out.append("RIFF", 4);
    put32(out, size + 36);
    out.append("WAVE", 4);
    out.append("fmt ", 4);
    put32(out, 16);
    put16(out, 1);
    put16(out, 1);
    put32(out, kSampleRate);
    put32(out, kBytesPerSecond);
    put16(out, 2);
    put16(out, 16);
    out.append("data", 4);
    put32(out, size);
    out.append(pcm);
    return out;
}
