#include "shared/focus/FocusNudgePolicy.h"

#include <QRandomGenerator>

#include <algorithm>
#include <cmath>

namespace {

bool within(double value, double low, double high)
{
    return std::isfinite(value) && value >= low && value <= high;
}

} // namespace

FocusNudgePolicy::FocusNudgePolicy(double maximumGap, bool developerMode)
    : maximumGap_(maximumGap)
    , developerMode_(developerMode)
{
}

void FocusNudgePolicy::reset()
{
    run_.clear();
}

double FocusNudgePolicy::requiredSpan(double meanProbability) const
{
    const double floor = developerMode_ ? kShortestDeveloperSpan : kShortestSpan;
    const double ceiling = developerMode_ ? kLongestDeveloperSpan : kLongestSpan;
    if (meanProbability >= kSureProbability)
        return floor;
    const double share = std::max(meanProbability - kMinimumProbability, 0.0) / kInterpolationDivisor;
    return std::max(ceiling - share * (ceiling - floor), floor);
}

bool FocusNudgePolicy::observe(const FocusCheck& check, double age)
{
    // A stale, unsure or out-of-order check can never complete a run.
    if (!within(age, 0, kMaximumVerdictAge) || !std::isfinite(check.elapsed)
        || check.activity != FocusActivity::offTask || !within(check.probability, kMinimumProbability, 1)
        || !within(check.confidence, 0, 1)) {
        run_.clear();
        return false;
    }
    if (!run_.empty()) {
        const double last = run_.back().elapsed;
        if (!(check.elapsed > last)) {
            run_.clear();
            return false;
        }
        if (check.elapsed - last > maximumGap_)
            run_.clear();
    }
    run_.push_back(check);
    if (run_.size() < 2)
        return false;

    double sum = 0;
    for (const auto& member : run_)
        sum += member.probability;
    const double mean = sum / static_cast<double>(run_.size());
    if (requiredSpan(mean) > check.elapsed - run_.front().elapsed)
        return false;
    if (check.elapsed - lastNudge_ < kLeastTimeBetweenNudges)
        return false;
    lastNudge_ = check.elapsed;
    run_.clear();
    return true;
}

MotivationNudgePlan::MotivationNudgePlan(const std::function<bool()>& random)
    : showsImage(random())
    , playsAudio(random())
{
}

bool MotivationNudgePlan::fairCoin()
{
    return QRandomGenerator::global()->bounded(2) == 1;
}
