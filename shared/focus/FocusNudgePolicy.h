#pragma once

#include <functional>
#include <limits>
#include <vector>

#include "shared/focus/FocusCheck.h"

// Turns a run of sure, fresh, off-task checks into a nudge once the run is long enough, and keeps
// nudges at least two focus minutes apart. One policy per session and developer-mode setting.
class FocusNudgePolicy {
public:
    static constexpr double kMaximumVerdictAge = 20;      // real seconds
    static constexpr double kMinimumProbability = 0.5;
    static constexpr double kSureProbability = 0.95;      // mean at which the shortest span applies
    static constexpr double kInterpolationDivisor = 0.45;
    static constexpr double kShortestSpan = 120;          // focus-clock seconds
    static constexpr double kLongestSpan = 240;
    static constexpr double kShortestDeveloperSpan = 40;
    static constexpr double kLongestDeveloperSpan = 80;
    static constexpr double kLeastTimeBetweenNudges = 120;

    // `maximumGap`: the largest gap in focus-clock seconds between two checks of one run.
    FocusNudgePolicy(double maximumGap, bool developerMode);

    // Forgets the run; the time of the last nudge holds.
    void reset();
    // Feeds the next recorded check; `age` is the real seconds from the check's start to its verdict.
    // True when a nudge is due now.
    bool observe(const FocusCheck& check, double age);

    const std::vector<FocusCheck>& run() const { return run_; }
    double lastNudge() const { return lastNudge_; }
    double maximumGap() const { return maximumGap_; }
    bool developerMode() const { return developerMode_; }

    // The span of focus-clock seconds a run with this mean off-task probability needs.
    double requiredSpan(double meanProbability) const;

private:
    std::vector<FocusCheck> run_;
    double lastNudge_ = -std::numeric_limits<double>::infinity();
    double maximumGap_;
    bool developerMode_;
};

// Which extras go with one delivered nudge.
struct MotivationNudgePlan {
    bool showsImage = false;
    bool playsAudio = false;

    // Asks `random` exactly twice: first for the image, then for the clip.
    explicit MotivationNudgePlan(const std::function<bool()>& random);

    // A fair coin for production plans.
    static bool fairCoin();
};
