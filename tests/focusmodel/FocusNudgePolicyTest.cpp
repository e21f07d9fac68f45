#include <gtest/gtest.h>

#include <limits>
#include <tuple>
#include <vector>

#include "shared/focus/FocusNudgePolicy.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

FocusCheck offTask(double elapsed, double probability = 0.95, double confidence = 0.9)
{
    return FocusCheck(elapsed, FocusActivity::offTask, probability, confidence);
}

// The answers to fresh off-task checks at these focus times.
std::vector<bool> observeAll(FocusNudgePolicy& policy, const std::vector<double>& times)
{
    std::vector<bool> answers;
    for (double t : times)
        answers.push_back(policy.observe(offTask(t), 1));
    return answers;
}

} // namespace

TEST(FocusNudgePolicy, RequiredSpanFollowsTheMeanProbability)
{
    // First check's probability, the others', developer mode, focus seconds between checks, the 1-based
    // checks among the first twelve that nudge.
    const std::tuple<double, double, bool, double, std::vector<int>> rows[] = {
        { 0.95, 0.95, false, 30, { 5, 10 } }, { 0.8, 0.8, false, 30, { 7 } },        { 0.5, 0.5, false, 30, { 9 } },
        { 0.5, 1.0, false, 30, { 6, 11 } },   { 0.95, 0.95, true, 40, { 2, 5, 8, 11 } }, { 0.5, 0.5, true, 40, { 3, 6, 9, 12 } },
    };
    for (const auto& [first, probability, developerMode, step, expected] : rows) {
        FocusNudgePolicy policy(1.5 * step, developerMode);
        std::vector<int> nudges;
        for (int i = 1; i <= 12; ++i) {
            if (policy.observe(offTask(step * i, i == 1 ? first : probability), 1))
                nudges.push_back(i);
        }
        EXPECT_EQ(nudges, expected) << first << ", " << probability << (developerMode ? " developer" : "");
    }
}

TEST(FocusNudgePolicy, UntrustedChecksAndLongGapsClearTheRun)
{
    // After checks at 30 and 60 with a maximum gap of 45: the check, its verdict's age, the run left.
    const std::tuple<const char*, FocusCheck, double, std::size_t> rows[] = {
        { "on task", FocusCheck(90, FocusActivity::onTask, 0.9, 0.9), 1, 0 },
        { "probability 0.49", offTask(90, 0.49), 1, 0 },
        { "probability above one", offTask(90, 1.01), 1, 0 },
        { "confidence not a number", offTask(90, 0.9, kNaN), 1, 0 },
        { "verdict aged 20.01 s", offTask(90), 20.01, 0 },
        { "negative age", offTask(90), -0.5, 0 },
        { "elapsed not finite", offTask(std::numeric_limits<double>::infinity()), 1, 0 },
        { "same elapsed as the last", offTask(60), 1, 0 },
        { "probability exactly 0.5", offTask(90, 0.5), 1, 3 },
        { "verdict aged exactly 20 s", offTask(90), 20.0, 3 },
        { "gap equal to the maximum", offTask(105), 1, 3 },
        { "gap past the maximum", offTask(105.5), 1, 1 },
    };
    for (const auto& [name, check, age, expectedRun] : rows) {
        FocusNudgePolicy policy(45, false);
        ASSERT_EQ(observeAll(policy, { 30, 60 }), (std::vector<bool> { false, false })) << name;
        EXPECT_FALSE(policy.observe(check, age)) << name;
        EXPECT_EQ(policy.run().size(), expectedRun) << name;
    }
}

TEST(FocusNudgePolicy, KeepsNudgesTwoFocusMinutesApartAcrossResets)
{
    // Developer mode: checks every 40 focus seconds, a floor of 40.
    FocusNudgePolicy policy(60, true);
    EXPECT_EQ(observeAll(policy, { 260, 300, 350, 390, 420 }),
              (std::vector<bool> { false, true, false, false, true })); // 390: span reached, 90 s since
    policy.observe(offTask(460), 1);
    policy.reset(); // a pause: the run goes, the spacing holds
    EXPECT_TRUE(policy.run().empty());
    EXPECT_EQ(observeAll(policy, { 480, 520, 530, 540 }), (std::vector<bool> { false, false, false, true }));
}

TEST(MotivationNudgePlan, AsksTheSourceTwiceImageFirst)
{
    const bool answers[] = { true, false };
    std::size_t calls = 0;
    const MotivationNudgePlan plan([&] { return answers[calls++ % 2]; });
    EXPECT_EQ(calls, 2u);
    EXPECT_TRUE(plan.showsImage);
    EXPECT_FALSE(plan.playsAudio);
}
