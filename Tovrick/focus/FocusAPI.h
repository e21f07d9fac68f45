#pragma once

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QString>

#include <map>
#include <optional>

#include "Tovrick/screen/ScreenSnapshot.h"
#include "shared/focus/FocusCheck.h"
#include "shared/focus/FocusSession.h"
#include "shared/util/Json.h"
#include "shared/util/UserFacingError.h"

// The model's verdict on one screenshot.
struct FocusDecision {
    // The answer broke one of the reading rules; nothing of it is used.
    class DecodeError : public UserFacingError {
    public:
        enum class Kind { invalidAnswer };
        DecodeError();
        Kind kind() const { return Kind::invalidAnswer; }
    };

    FocusActivity activity = FocusActivity::uncertain; // on_task, off_task or uncertain
    double probability = 0;                            // of "off_task"
    double confidence = 0;
    std::map<QString, double> probabilities;           // exactly the three verdicts

    // Reads the "decisions" answer. Throws JsonDecodeError when the bytes are not JSON at all and
    // DecodeError for any other fault.
    static FocusDecision decode(const QByteArray& data);

    bool operator==(const FocusDecision&) const = default;
};

// The judge and nudge-sentence requests. Stateless.
namespace FocusAPI {

inline constexpr auto kModel = "gpt-6-luna";
inline constexpr double kDecisionTimeout = 18;
inline constexpr double kNudgeTimeout = 8;
inline constexpr qsizetype kMaximumScreenLines = 140;
inline constexpr qsizetype kMaximumScreenCharacters = 12000;
inline constexpr qsizetype kHistoryLines = 8;
inline constexpr qsizetype kMaximumNudgeCharacters = 180;
inline constexpr qsizetype kMaximumNudgeWords = 22;

// A request that failed; `message` is what the user is shown.
class Failure : public UserFacingError {
public:
    explicit Failure(const QString& message) : UserFacingError(message) {}
    const QString& message() const { return description(); }
};

struct Nudge {
    QString message;
    std::optional<Target> target; // a recognised line to point at
};

// "95s: off_task, P(off)=0.73, confidence=0.90"
QString summaryLine(const FocusCheck& check);
// The text part of the judge request.
QString decisionInputText(const ScreenSnapshot& snapshot, const FocusSession& session, double idleSeconds);
Json decisionBody(const ScreenSnapshot& snapshot, const FocusSession& session, double idleSeconds);

// Asks "decisions" whether the screen serves the session's task. Throws Failure when the request
// fails, and what FocusDecision::decode throws when the answer cannot be read.
QCoro::Task<FocusDecision> classify(ScreenSnapshot snapshot, FocusSession session, double idleSeconds,
                                    double timeoutSeconds = kDecisionTimeout);

Json nudgeBody(const ScreenSnapshot& snapshot, const QString& task);
// Reads a "responses" answer. Throws JsonDecodeError when the answer or its collected text is not
// JSON, and Failure("Couldn't prepare a nudge.") when the sentence breaks the limits.
Nudge parseNudge(const QByteArray& data, const ScreenSnapshot& snapshot);
QCoro::Task<Nudge> prepareNudge(ScreenSnapshot snapshot, QString task, double timeoutSeconds = kNudgeTimeout);

} // namespace FocusAPI
