#pragma once

#include <QString>
#include <QUuid>

#include <map>
#include <optional>

#include "shared/util/Json.h"

namespace focusjson {
class Writer;
}

// The verdict of one check. The first three come from the model service; the system writes the other two.
enum class FocusActivity {
    onTask,
    offTask,
    uncertain,
    unavailable,
    paused,
};

// "on_task", "off_task", "uncertain", "unavailable", "paused".
QString focusActivityText(FocusActivity activity);
std::optional<FocusActivity> focusActivityFromText(const QString& text);
// True for the three verdicts the model service can give.
bool isFocusVerdict(FocusActivity activity);

// One judged moment of a session.
struct FocusCheck {
    using Probabilities = std::map<QString, double>;

    QUuid id;
    double elapsed = 0;      // focus-clock seconds when the check was recorded
    FocusActivity activity = FocusActivity::unavailable;
    double probability = 0;  // off-task probability, 0 to 1
    double confidence = 0;
    std::optional<Probabilities> probabilities; // keyed by the verdict's text
    std::optional<double> sampleDuration;       // focus-clock seconds this check stands for
    bool nudged = false;

    // An empty record, for readers.
    FocusCheck() = default;
    // A new check with a fresh id, not nudged.
    FocusCheck(double elapsed, FocusActivity activity, double probability, double confidence,
               std::optional<Probabilities> probabilities = std::nullopt,
               std::optional<double> sampleDuration = std::nullopt);

    // The probability this check gives the verdict, when it is a usable number in 0...1.
    std::optional<double> estimate(FocusActivity verdict) const;

    // Throws JsonEncodeError for a number that is not finite.
    void write(focusjson::Writer& out) const;
    Json toJson() const;
    // Strict: a missing required key, a wrong type, a bad id or an unknown activity throws JsonDecodeError.
    static FocusCheck fromJson(const Json& object);

    bool operator==(const FocusCheck&) const = default;
};
