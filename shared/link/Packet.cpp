#include "shared/link/Packet.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <string_view>

namespace {

// What fromJson reads: a packet's fields and its face's. A peer's other keys and values are never built.
bool packetField(int depth, const std::string* key)
{
    static constexpr std::string_view fields[] = { "face", "hello", "volume", "command", "audio",
                                                    "speech", "callID", "tool", "text", "image" };
    static constexpr std::string_view faceFields[] = { "gazeX", "gazeY", "mood", "talk" };
    const auto among = [key](const auto& names) {
        return std::find(std::begin(names), std::end(names), *key) != std::end(names);
    };
    if (!key)
        return false;
    return depth == 1 ? among(fields) : depth == 2 && among(faceFields);
}

void putText(Json& json, const char* key, const std::optional<QString>& value)
{
    if (value)
        json[key] = json::fromQString(*value);
}

} // namespace

Json Packet::toJson() const
{
    Json json = Json::object();
    if (face)
        json["face"] = face->toJson();
    putText(json, "hello", hello);
    if (volume)
        json["volume"] = json::number(*volume);
    putText(json, "command", command);
    putText(json, "audio", audio);
    if (speech)
        json["speech"] = *speech;
    putText(json, "callID", callID);
    putText(json, "tool", tool);
    putText(json, "text", text);
    putText(json, "image", image);
    return json;
}

QByteArray Packet::encode() const
{
    return json::dumpBytes(toJson());
}

Packet Packet::fromJson(const Json& json)
{
    json::requireObject(json, "packet");
    Packet packet;
    if (const Json* face = json::optional(json, "face"))
        packet.face = FaceState::fromJson(*face);
    packet.hello = json::optionalString(json, "hello");
    packet.volume = json::optionalNumber(json, "volume");
    if (packet.volume && !std::isfinite(*packet.volume))
        throw JsonDecodeError("\"volume\" is not finite");
    packet.command = json::optionalString(json, "command");
    packet.audio = json::optionalString(json, "audio");
    // A count too large for 64 bits must not come out as a negative number.
    if (const Json* speech = json::optional(json, "speech"); speech && speech->is_number_unsigned()
        && speech->get<std::uint64_t>() > static_cast<std::uint64_t>(INT64_MAX))
        throw JsonDecodeError("\"speech\" is out of range");
    packet.speech = json::optionalInteger(json, "speech");
    packet.callID = json::optionalString(json, "callID");
    packet.tool = json::optionalString(json, "tool");
    packet.text = json::optionalString(json, "text");
    packet.image = json::optionalString(json, "image");
    return packet;
}

Packet Packet::decode(const QByteArray& bytes)
{
    return fromJson(json::parse(bytes, packetField));
}
