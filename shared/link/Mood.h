#pragma once

#include <QString>

#include <optional>

// The character's mood as the phone draws it. Travels as its lowercase value.
enum class Mood { listening, resting, thinking, talking, pointing, happy, sleepy };

QString moodValue(Mood mood);
// The value capitalised, for menus.
QString moodLabel(Mood mood);
std::optional<Mood> moodFromValue(const QString& value);
