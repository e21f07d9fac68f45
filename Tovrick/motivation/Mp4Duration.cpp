#include "Tovrick/motivation/Mp4Duration.h"

#include <QBuffer>
#include <QFile>

#include <cstdint>
#include <optional>

#include "Tovrick/motivation/MotivationAudioError.h"

namespace {

// The movie box of a clip is a few kilobytes; anything far larger is not a clip.
constexpr std::uint64_t kMaxMovieBytes = 16u * 1024u * 1024u;
constexpr std::uint64_t kUnknown32 = 0xFFFFFFFFu;
constexpr std::uint64_t kUnknown64 = ~std::uint64_t(0);

struct Malformed { };

// A bounds-checked big-endian view over bytes in memory.
class Reader {
public:
    Reader(const char* data, std::uint64_t size) : m_data(data), m_size(size) { }

    std::uint64_t size() const { return m_size; }
    std::uint64_t u(std::uint64_t offset, int bytes) const
    {
        if (offset > m_size || std::uint64_t(bytes) > m_size - offset)
            throw Malformed {};
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i)
            value = (value << 8) | static_cast<unsigned char>(m_data[offset + std::uint64_t(i)]);
        return value;
    }
    Reader sub(std::uint64_t offset, std::uint64_t length) const
    {
        if (offset > m_size || length > m_size - offset)
            throw Malformed {};
        return Reader(m_data + offset, length);
    }

private:
    const char* m_data;
    std::uint64_t m_size;
};

struct Box {
    std::uint32_t type = 0;
    std::uint64_t headerSize = 0;
    std::uint64_t size = 0; // header included
};

constexpr std::uint32_t fourcc(const char (&name)[5])
{
    return (std::uint32_t(std::uint8_t(name[0])) << 24) | (std::uint32_t(std::uint8_t(name[1])) << 16)
        | (std::uint32_t(std::uint8_t(name[2])) << 8) | std::uint32_t(std::uint8_t(name[3]));
}

// Reads the box header at `offset` of a container of `available` bytes.
Box boxAt(const Reader& reader, std::uint64_t offset)
{
    Box box;
    const std::uint64_t size32 = reader.u(offset, 4);
    box.type = std::uint32_t(reader.u(offset + 4, 4));
    box.headerSize = 8;
    if (size32 == 1) {
        box.size = reader.u(offset + 8, 8);
        box.headerSize = 16;
    } else if (size32 == 0) {
        box.size = reader.size() - offset;
    } else {
        box.size = size32;
    }
    if (box.size < box.headerSize || box.size > reader.size() - offset)
        throw Malformed {};
    return box;
}

template <typename Visit>
void forEachBox(const Reader& container, Visit&& visit)
{
    std::uint64_t offset = 0;
    while (offset < container.size()) {
        const Box box = boxAt(container, offset);
        visit(box.type, container.sub(offset + box.headerSize, box.size - box.headerSize));
        offset += box.size;
    }
}

// Duration and time scale from an mvhd or mdhd payload (the two share their first fields).
struct Timing {
    std::uint64_t timescale = 0;
    std::optional<std::uint64_t> duration;
};

Timing headerTiming(const Reader& payload)
{
    Timing timing;
    if (payload.u(0, 1) == 1) {
        timing.timescale = payload.u(20, 4);
        const std::uint64_t duration = payload.u(24, 8);
        if (duration != kUnknown64)
            timing.duration = duration;
    } else {
        timing.timescale = payload.u(12, 4);
        const std::uint64_t duration = payload.u(16, 4);
        if (duration != kUnknown32)
            timing.duration = duration;
    }
    return timing;
}

// A track header's duration, in the movie's time scale.
std::optional<std::uint64_t> trackDuration(const Reader& payload)
{
    if (payload.u(0, 1) == 1) {
        const std::uint64_t duration = payload.u(28, 8);
        return duration == kUnknown64 ? std::nullopt : std::optional(duration);
    }
    const std::uint64_t duration = payload.u(20, 4);
    return duration == kUnknown32 ? std::nullopt : std::optional(duration);
}

// A length that is unknown or 0 (as in fragmented files) states nothing.
std::optional<double> seconds(std::optional<std::uint64_t> duration, std::uint64_t timescale)
{
    if (!duration || *duration == 0 || timescale == 0)
        return std::nullopt;
    return double(*duration) / double(timescale);
}

struct SoundTrack {
    std::optional<std::uint64_t> trackDuration; // in the movie's time scale
    std::optional<Timing> media;
};

double durationFromMovie(const Reader& movie)
{
    std::optional<Timing> movieTiming;
    std::optional<SoundTrack> sound;
    forEachBox(movie, [&](std::uint32_t type, const Reader& payload) {
        if (type == fourcc("mvhd")) {
            movieTiming = headerTiming(payload);
            return;
        }
        if (type != fourcc("trak") || sound)
            return;
        SoundTrack track;
        bool isSound = false;
        forEachBox(payload, [&](std::uint32_t trackType, const Reader& trackPayload) {
            if (trackType == fourcc("tkhd")) {
                track.trackDuration = trackDuration(trackPayload);
            } else if (trackType == fourcc("mdia")) {
                forEachBox(trackPayload, [&](std::uint32_t mediaType, const Reader& mediaPayload) {
                    if (mediaType == fourcc("mdhd"))
                        track.media = headerTiming(mediaPayload);
                    else if (mediaType == fourcc("hdlr"))
                        isSound = mediaPayload.u(8, 4) == fourcc("soun");
                });
            }
        });
        if (isSound)
            sound = track;
    });
    if (!movieTiming || !sound)
        throw Malformed {};
    if (sound->media) {
        if (const auto media = seconds(sound->media->duration, sound->media->timescale))
            return *media;
    }
    if (const auto track = seconds(sound->trackDuration, movieTiming->timescale))
        return *track;
    return seconds(movieTiming->duration, movieTiming->timescale).value_or(0);
}

MotivationFileError notAudio(const QString& name)
{
    return MotivationFileError::couldNot(QStringLiteral("opened"), name,
                                         QStringLiteral("it isn’t in the correct format"));
}

// Finds the movie box among the top-level boxes without reading the media data.
QByteArray readMovie(QIODevice& device, const QString& name)
{
    const std::uint64_t fileSize = std::uint64_t(device.size());
    std::uint64_t offset = 0;
    while (offset < fileSize) {
        if (!device.seek(qint64(offset)))
            throw notAudio(name);
        const QByteArray header = device.read(16);
        if (header.size() < 8)
            throw notAudio(name);
        Reader reader(header.constData(), std::uint64_t(header.size()));
        std::uint64_t size = reader.u(0, 4);
        std::uint64_t headerSize = 8;
        const std::uint32_t type = std::uint32_t(reader.u(4, 4));
        if (size == 1) {
            if (header.size() < 16)
                throw notAudio(name);
            size = reader.u(8, 8);
            headerSize = 16;
        } else if (size == 0) {
            size = fileSize - offset;
        }
        if (size < headerSize || size > fileSize - offset)
            throw notAudio(name);
        if (type == fourcc("moov")) {
            if (size - headerSize > kMaxMovieBytes || !device.seek(qint64(offset + headerSize)))
                throw notAudio(name);
            const QByteArray movie = device.read(qint64(size - headerSize));
            if (std::uint64_t(movie.size()) != size - headerSize)
                throw notAudio(name);
            return movie;
        }
        offset += size;
    }
    throw notAudio(name);
}

double durationOf(QIODevice& device, const QString& name)
{
    try {
        const QByteArray movie = readMovie(device, name);
        return durationFromMovie(Reader(movie.constData(), std::uint64_t(movie.size())));
    } catch (const Malformed&) {
        throw notAudio(name);
    }
}

} // namespace

namespace mp4 {

double audioDuration(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        throw MotivationFileError::couldNot(QStringLiteral("opened"), path,
                                            QStringLiteral("there is no such file"));
    if (!file.open(QIODevice::ReadOnly))
        throw MotivationFileError::couldNot(QStringLiteral("opened"), path, file.errorString());
    return durationOf(file, path);
}

double audioDuration(const QByteArray& bytes, const QString& nameForErrors)
{
    QByteArray copy = bytes;
    QBuffer buffer(&copy);
    buffer.open(QIODevice::ReadOnly);
    return durationOf(buffer, nameForErrors);
}

} // namespace mp4
