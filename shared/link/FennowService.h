#pragma once

// How the phone link shows itself on the local network.
struct FennowService {
    static constexpr const char* serviceType = "_fennow._tcp";
    // TXT key whose value is the PairingRecord identifier, so a phone picks the machine it is paired with.
    static constexpr const char* identifierKey = "tovrick-id";
};
