#include "shared/link/Mood.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<Mood, const char*>, 7> moods { {
    { Mood::listening, "listening" },
    { Mood::resting, "resting" },
    { Mood::thinking, "thinking" },
    { Mood::talking, "talking" },
    { Mood::pointing, "pointing" },
    { Mood::happy, "happy" },
    { Mood::sleepy, "sleepy" },
} };

} // namespace

QString moodValue(Mood mood)
{
    for (const auto& [candidate, value] : moods)
        if (candidate == mood)
            return QString::fromLatin1(value);
    return {};
}

QString moodLabel(Mood mood)
{
    QString label = moodValue(mood);
    if (!label.isEmpty())
        label[0] = label[0].toUpper();
    return label;
}

std::optional<Mood> moodFromValue(const QString& value)
{
    for (const auto& [mood, text] : moods)
        if (value == QLatin1String(text))
            return mood;
    return std::nullopt;
}
