#pragma once

#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

#include "shared/focus/FocusSession.h"
#include "shared/util/Json.h"

// What the phone is told about the focus state.
struct FocusSync {
    std::optional<FocusSession> current;
    std::vector<FocusSession> history;
    std::int64_t revision = 0;
    double sentAt = 0; // seconds since 2001
    std::optional<bool> developerMode;

    // An empty record, for readers.
    FocusSync() = default;
    // A snapshot sent now.
    FocusSync(std::optional<FocusSession> current, std::vector<FocusSession> history, std::int64_t revision,
              std::optional<bool> developerMode);
    // The same with a given send time.
    FocusSync(std::optional<FocusSession> current, std::vector<FocusSession> history, std::int64_t revision,
              std::optional<bool> developerMode, double sentAt);

    // Throws JsonEncodeError for a number that is not finite.
    void write(focusjson::Writer& out) const;
    Json toJson() const;
    // Strict: one bad session anywhere fails the whole snapshot with JsonDecodeError.
    static FocusSync fromJson(const Json& object);

    // The compact JSON text carried by a "focusState" packet, and its reader.
    QByteArray encode() const;
    static FocusSync decode(const QByteArray& text);
};
