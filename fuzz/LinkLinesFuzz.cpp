// The link's line framing: bytes arriving in arbitrary pieces come out as the same lines, and a line
// over the limit is always noticed.
#include <cstdint>
#include <cstdlib>

#include "shared/util/ByteLines.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte sets the limit, the second the piece size; the rest is the stream.
    const qsizetype limit = data[0] % 64;
    const qsizetype piece = 1 + data[1] % 17;
    const QByteArray stream(reinterpret_cast<const char*>(data + 2), static_cast<qsizetype>(size - 2));

    ByteLines lines(limit);
    QByteArray rebuilt;
    bool tooLong = false;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        lines.append(stream.mid(at, piece));
        while (auto line = lines.next()) {
            if (line->contains('\n'))
                std::abort();
            tooLong = tooLong || line->size() > limit;
            rebuilt += *line + '\n';
        }
        tooLong = tooLong || lines.pending() > limit;
        if (tooLong && !lines.overflowed())
            std::abort();
    }
    // Every complete line came out once, in order; what is left is the unfinished tail.
    const qsizetype lastNewline = stream.lastIndexOf('\n');
    if (rebuilt != stream.left(lastNewline + 1) || lines.pending() != stream.size() - (lastNewline + 1))
        std::abort();
    return 0;
}
