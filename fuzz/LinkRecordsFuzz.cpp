// The link's handshake and record decoder over hostile lines: never a crash, never a record accepted
// that was not sealed by the peer, and a refused line never moves the counter.
#include <cstdint>
#include <cstdlib>

#include <QList>

#include "shared/link/SecureChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QByteArray key(32, '\x5a');

    // As the first line a server sees, and as the server's answer a client sees.
    SecureChannel server(key, SecureChannel::Role::server);
    server.handshake(input);
    SecureChannel client(key, SecureChannel::Role::client);
    client.opening();
    client.handshake(input);
    if (client.isEstablished())
        std::abort();

    // As records after a real handshake, line by line, between genuine ones.
    SecureChannel a(key, SecureChannel::Role::client);
    SecureChannel b(key, SecureChannel::Role::server);
    const auto challenge = b.handshake(a.opening());
    b.handshake(a.handshake(challenge.reply).reply);
    if (!a.isEstablished() || !b.isEstablished())
        std::abort();
    for (const QByteArray& line : input.split('\n')) {
        const auto before = b.receivedCount();
        if (b.open(line))
            std::abort();
        if (b.receivedCount() != before)
            std::abort();
        if (b.open(a.seal(line)) != line)
            std::abort();
    }
    return 0;
}
