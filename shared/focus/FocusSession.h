#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>

#include <optional>
#include <vector>

#include "shared/focus/FocusCheck.h"
#include "shared/util/Json.h"

// One focus session and its two clocks: the focus clock (`elapsed`, `duration`) runs at `clockRate()`
// times real time, the real clock (`realElapsed`) at real time.
struct FocusSession {
    enum class Status {
        running,
        paused,
        ended,
    };

    static constexpr int kMaximumTaskCharacters = 500;
    static constexpr double kMinimumDuration = 60;
    static constexpr double kMaximumDuration = 14400;

    QUuid id;
    QString task;
    double duration = kMinimumDuration; // focus-clock seconds
    double startedAt = 0;               // seconds since 2001
    double elapsed = 0;                 // focus-clock seconds spent running
    Status status = Status::running;
    QString detail;
    std::vector<FocusCheck> checks;     // oldest first, pause markers included
    std::optional<bool> developerMode;
    std::optional<bool> usedDeveloperMode;
    std::optional<double> realElapsed;  // real seconds spent running

    // An empty record, for readers.
    FocusSession() = default;
    // A running session with a fresh id, started now. The task is cut to 500 characters (not trimmed)
    // and the duration clamped to 60...14400 seconds (not a number gives 60).
    FocusSession(const QString& task, double duration, bool developerMode);
    // The same with a given id and start, for callers that need them fixed.
    FocusSession(const QString& task, double duration, bool developerMode, const QUuid& id, double startedAt);

    bool isDeveloperMode() const { return developerMode.value_or(false); }
    double clockRate() const { return isDeveloperMode() ? 4.0 : 1.0; }
    double checkInterval() const { return isDeveloperMode() ? 10.0 : 30.0; }
    double observationDuration() const { return checkInterval() * clockRate(); }
    double realActiveElapsed() const { return realElapsed.value_or(elapsed); }
    double remaining() const;

    // Moves both clocks by `seconds` of real time while running; ends the session at `duration`.
    void advance(double seconds);
    // Running only: pauses with the reason and appends a pause marker check.
    void pause(const QString& reason);
    // Paused only.
    void resume();
    void setDeveloperMode(bool on);
    // From any status.
    void end();

    // "%02d:%02d" minutes and seconds of `seconds` rounded up; never negative.
    static QString clock(double seconds);

    // Throws JsonEncodeError for a number that is not finite.
    void write(focusjson::Writer& out) const;
    Json toJson() const;
    // Strict: any missing required key, wrong type or unknown text value throws JsonDecodeError.
    static FocusSession fromJson(const Json& object);

    bool operator==(const FocusSession&) const = default;
};

QString focusStatusText(FocusSession::Status status);
std::optional<FocusSession::Status> focusStatusFromText(const QString& text);

// A list of sessions as one JSON array. One bad session fails the whole array.
Json focusSessionsToJson(const std::vector<FocusSession>& sessions);
std::vector<FocusSession> focusSessionsFromJson(const Json& array);
// The same as compact JSON text, as the history file holds it.
QByteArray encodeFocusSessions(const std::vector<FocusSession>& sessions);
std::vector<FocusSession> decodeFocusSessions(const QByteArray& text);
