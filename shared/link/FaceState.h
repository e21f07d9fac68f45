#pragma once

#include "shared/link/Mood.h"
#include "shared/util/Json.h"

// What the phone draws of the character: where the eyes look, the mood and how far the mouth opens.
struct FaceState {
    double gazeX = 0;
    double gazeY = 0;
    Mood mood = Mood::resting;
    double talk = 0;

    // Throws JsonEncodeError for a number that is not finite.
    Json toJson() const;
    // Strict: every key present, of its type, finite, and a known mood. Throws JsonDecodeError.
    static FaceState fromJson(const Json& json);

    bool operator==(const FaceState&) const = default;
};
