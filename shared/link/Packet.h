#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <optional>

#include "shared/link/FaceState.h"
#include "shared/util/Json.h"

// The one message of the phone link. Every field is optional and left out of the JSON when absent.
// A command's arguments travel as JSON text in `text`; a reply carries its request's `callID`.
struct Packet {
    std::optional<FaceState> face;
    std::optional<QString> hello;
    std::optional<double> volume;
    std::optional<QString> command;
    std::optional<QString> audio;
    std::optional<std::int64_t> speech;
    std::optional<QString> callID;
    std::optional<QString> tool;
    std::optional<QString> text;
    std::optional<QString> image;

    // Throws JsonEncodeError for a number that is not finite.
    Json toJson() const;
    QByteArray encode() const;

    // Strict about types: a present key of the wrong type, a non-finite number or a face that does not
    // decode fails the whole packet with JsonDecodeError. Unknown keys are ignored.
    static Packet fromJson(const Json& json);
    static Packet decode(const QByteArray& bytes);

    bool operator==(const Packet&) const = default;
};
