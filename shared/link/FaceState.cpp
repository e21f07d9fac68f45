#include "shared/link/FaceState.h"

#include <cmath>

namespace {

double finiteNumber(const Json& object, std::string_view key)
{
    const double value = json::requireNumber(object, key);
    if (!std::isfinite(value))
        throw JsonDecodeError("\"" + std::string(key) + "\" is not finite");
    return value;
}

} // namespace

Json FaceState::toJson() const
{
    Json json = Json::object();
    json["gazeX"] = json::number(gazeX);
    json["gazeY"] = json::number(gazeY);
    json["mood"] = json::fromQString(moodValue(mood));
    json["talk"] = json::number(talk);
    return json;
}

FaceState FaceState::fromJson(const Json& json)
{
    json::requireObject(json, "face");
    FaceState face;
    face.gazeX = finiteNumber(json, "gazeX");
    face.gazeY = finiteNumber(json, "gazeY");
    const QString mood = json::requireString(json, "mood");
    const auto known = moodFromValue(mood);
    if (!known)
        throw JsonDecodeError("\"mood\" is not a known mood");
    face.mood = *known;
    face.talk = finiteNumber(json, "talk");
    return face;
}
