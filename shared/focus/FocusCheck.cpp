#include "shared/focus/FocusCheck.h"

#include "shared/focus/FocusJson.h"
#include "shared/util/Uuid.h"

#include <cmath>

namespace {

struct ActivityName {
    FocusActivity activity;
    std::string_view text;
};

constexpr ActivityName kActivityNames[] = {
    { FocusActivity::onTask, "on_task" },
    { FocusActivity::offTask, "off_task" },
    { FocusActivity::uncertain, "uncertain" },
    { FocusActivity::unavailable, "unavailable" },
    { FocusActivity::paused, "paused" },
};

std::string_view activityName(FocusActivity activity)
{
    for (const auto& name : kActivityNames) {
        if (name.activity == activity)
            return name.text;
    }
    return {};
}

FocusActivity requireActivity(const Json& object, std::string_view key)
{
    const auto activity = focusActivityFromText(json::requireString(object, key));
    if (!activity)
        throw JsonDecodeError("\"" + std::string(key) + "\" is not a known activity");
    return *activity;
}

bool isUnitProbability(double value)
{
    return std::isfinite(value) && value >= 0 && value <= 1;
}

} // namespace

QString focusActivityText(FocusActivity activity)
{
    const std::string_view name = activityName(activity);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

std::optional<FocusActivity> focusActivityFromText(const QString& text)
{
    for (const auto& name : kActivityNames) {
        if (text == QLatin1StringView(name.text.data(), static_cast<qsizetype>(name.text.size())))
            return name.activity;
    }
    return std::nullopt;
}

bool isFocusVerdict(FocusActivity activity)
{
    return activity == FocusActivity::onTask || activity == FocusActivity::offTask
        || activity == FocusActivity::uncertain;
}

FocusCheck::FocusCheck(double elapsed_, FocusActivity activity_, double probability_, double confidence_,
                       std::optional<Probabilities> probabilities_, std::optional<double> sampleDuration_)
    : id(uuid::make())
    , elapsed(elapsed_)
    , activity(activity_)
    , probability(probability_)
    , confidence(confidence_)
    , probabilities(std::move(probabilities_))
    , sampleDuration(sampleDuration_)
{
}

std::optional<double> FocusCheck::estimate(FocusActivity verdict) const
{
    if (!isFocusVerdict(activity) || !isFocusVerdict(verdict))
        return std::nullopt;
    if (probabilities) {
        const auto found = probabilities->find(focusActivityText(verdict));
        if (found != probabilities->end()) {
            if (isUnitProbability(found->second))
                return found->second;
            return std::nullopt;
        }
    }
    if (verdict == FocusActivity::offTask && isUnitProbability(probability))
        return probability;
    return std::nullopt;
}

void FocusCheck::write(focusjson::Writer& out) const
{
    out.beginObject();
    out.key("id");
    out.id(id);
    out.key("elapsed");
    out.number(elapsed);
    out.key("activity");
    out.plainString(activityName(activity));
    out.key("probability");
    out.number(probability);
    out.key("confidence");
    out.number(confidence);
    if (probabilities) {
        out.key("probabilities");
        out.beginObject();
        for (const auto& [name, value] : *probabilities) {
            out.textKey(name);
            out.number(value);
        }
        out.endObject();
    }
    if (sampleDuration) {
        out.key("sampleDuration");
        out.number(*sampleDuration);
    }
    out.key("nudged");
    out.boolean(nudged);
    out.endObject();
}

Json FocusCheck::toJson() const
{
    focusjson::Writer out;
    write(out);
    return json::parse(out.text());
}

FocusCheck FocusCheck::fromJson(const Json& object)
{
    json::requireObject(object, "check");
    FocusCheck check;
    check.id = focusjson::requireId(object, "id");
    check.elapsed = json::requireNumber(object, "elapsed");
    check.activity = requireActivity(object, "activity");
    check.probability = json::requireNumber(object, "probability");
    check.confidence = json::requireNumber(object, "confidence");
    if (const Json* map = json::optional(object, "probabilities")) {
        json::requireObject(*map, "\"probabilities\"");
        Probabilities values;
        for (const auto& [key, value] : map->items())
            values[json::toQString(key)] = json::asNumber(value, "a probability");
        check.probabilities = std::move(values);
    }
    check.sampleDuration = json::optionalNumber(object, "sampleDuration");
    check.nudged = json::requireBool(object, "nudged");
    return check;
}
