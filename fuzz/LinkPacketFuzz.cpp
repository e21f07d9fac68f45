// Packet decoding from a peer: strict, never a crash, and what decodes writes back to the same packet.
// A command's text carries its arguments as JSON: they are read and copied as the commands do.
#include <cstdint>
#include <cstdlib>

#include "shared/link/Packet.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Packet packet;
    try {
        packet = Packet::decode(input);
    } catch (const JsonDecodeError&) {
        return 0;
    }
    if (!(Packet::decode(packet.encode()) == packet))
        std::abort();
    if (packet.text) {
        try {
            const Json arguments = json::parse(packet.text->toUtf8());
            const Json copy = arguments;
            if (copy != arguments)
                std::abort();
        } catch (const JsonDecodeError&) {
        }
    }
    return 0;
}
