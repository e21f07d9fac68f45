#pragma once

#include <QString>

// The assistant host: answers the phone's requests through the model service.
class RealtimeHost {
public:
    // The character's persona: the user's "personality" setting when it holds more than white space,
    // otherwise the built-in one.
    static QString persona();
};
