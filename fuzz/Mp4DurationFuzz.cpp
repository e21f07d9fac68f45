// Clip files from disk and recordings: the MPEG-4 reader refuses what it cannot read, never crashes,
// never reads outside the file, and any length it states is a finite number of seconds.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "Tovrick/motivation/Mp4Duration.h"
#include "Tovrick/motivation/MotivationAudioError.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const double seconds = mp4::audioDuration(input, QStringLiteral("clip.m4a"));
        if (!std::isfinite(seconds) || seconds < 0)
            std::abort();
    } catch (const MotivationFileError&) {
    }
    return 0;
}
