#include <gtest/gtest.h>

#include <limits>
#include <vector>

#include "shared/focus/FocusNudgePolicy.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

FocusCheck offTask(double elapsed, double probability = 0.95, double confidence = 0.9)
{
    return FocusCheck(elapsed, FocusActivity::offTask, probability, confidence);
}

// Feeds off-task checks every `step` focus seconds; answers the 1-based index of the first nudge, 0 for none.
int nudgeIndex(FocusNudgePolicy& policy, double probability, double step, int limit = 20)
{
    for (int i = 1; i <= limit; ++i) {
        if (policy.observe(offTask(step * i, probability), 2.0))
            return i;
    }
    return 0;
}

} // namespace

TEST(FocusNudgePolicy, RequiredSpanFollowsTheMeanProbability)
{
    struct Row {
        double probability;
        bool developerMode;
        double step;
        int expectedIndex;
    };
    const Row rows[] = {
        { 1.0, false, 30, 5 },  { 0.95, false, 30, 5 }, { 0.8, false, 30, 7 },
        { 0.5, false, 30, 9 },  { 0.95, true, 40, 2 },  { 0.5, true, 40, 3 },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.probability << (row.developerMode ? " developer" : ""));
        FocusNudgePolicy policy(1.5 * row.step, row.developerMode);
        EXPECT_EQ(nudgeIndex(policy, row.probability, row.step), row.expectedIndex);
        EXPECT_TRUE(policy.run().empty());
        EXPECT_EQ(policy.lastNudge(), row.step * row.expectedIndex);
    }
    FocusNudgePolicy normal(45, false);
    EXPECT_EQ(normal.requiredSpan(0.3), 240.0);
    EXPECT_DOUBLE_EQ(normal.requiredSpan(0.8), 160.0);
    EXPECT_EQ(normal.requiredSpan(0.99), 120.0);
}

TEST(FocusNudgePolicy, UntrustedOrOtherChecksClearTheRun)
{
    struct Row {
        const char* name;
        FocusCheck check;
        double age;
    };
    const Row breakers[] = {
        { "on task", FocusCheck(90, FocusActivity::onTask, 0.9, 0.9), 1 },
        { "uncertain", FocusCheck(90, FocusActivity::uncertain, 0.9, 0.9), 1 },
        { "unavailable", FocusCheck(90, FocusActivity::unavailable, 0.9, 0.9), 1 },
        { "paused marker", FocusCheck(90, FocusActivity::paused, 0, 0), 1 },
        { "probability 0.49", offTask(90, 0.49), 1 },
        { "probability above one", offTask(90, 1.01), 1 },
        { "probability not a number", offTask(90, kNaN), 1 },
        { "confidence above one", offTask(90, 0.9, 1.1), 1 },
        { "confidence negative", offTask(90, 0.9, -0.1), 1 },
        { "confidence not a number", offTask(90, 0.9, kNaN), 1 },
        { "verdict aged 20.01 s", offTask(90), 20.01 },
        { "negative age", offTask(90), -0.5 },
        { "age not a number", offTask(90), kNaN },
        { "elapsed not finite", offTask(std::numeric_limits<double>::infinity()), 1 },
        { "same elapsed as the last", offTask(60), 1 },
        { "earlier than the last", offTask(45), 1 },
    };
    for (const Row& row : breakers) {
        SCOPED_TRACE(row.name);
        FocusNudgePolicy policy(45, false);
        ASSERT_FALSE(policy.observe(offTask(30), 1));
        ASSERT_FALSE(policy.observe(offTask(60), 1));
        EXPECT_FALSE(policy.observe(row.check, row.age));
        EXPECT_TRUE(policy.run().empty());
        // Counting starts again from the next off-task check.
        EXPECT_FALSE(policy.observe(offTask(120), 1));
        EXPECT_EQ(policy.run().size(), 1u);
    }

    const Row joiners[] = {
        { "probability exactly 0.5", offTask(90, 0.5), 1 },
        { "verdict aged exactly 20 s", offTask(90), 20.0 },
        { "fresh verdict", offTask(90), 0 },
        { "gap equal to the maximum", offTask(105), 1 },
    };
    for (const Row& row : joiners) {
        SCOPED_TRACE(row.name);
        FocusNudgePolicy policy(45, false);
        ASSERT_FALSE(policy.observe(offTask(30), 1));
        ASSERT_FALSE(policy.observe(offTask(60), 1));
        EXPECT_FALSE(policy.observe(row.check, row.age));
        EXPECT_EQ(policy.run().size(), 3u);
    }
}

TEST(FocusNudgePolicy, AGapLongerThanTheMaximumStartsANewRun)
{
    FocusNudgePolicy policy(45, false);
    EXPECT_FALSE(policy.observe(offTask(30), 1));
    EXPECT_FALSE(policy.observe(offTask(80), 1));
    ASSERT_EQ(policy.run().size(), 1u);
    EXPECT_EQ(policy.run().front().elapsed, 80.0);

    // A missed check in a long run: the nudge waits for a full span after the gap.
    FocusNudgePolicy missed(45, false);
    std::vector<double> times { 30, 60, 90, 150, 180, 210, 240, 270 };
    std::vector<bool> answers;
    for (double t : times)
        answers.push_back(missed.observe(offTask(t, 1.0), 1));
    EXPECT_EQ(answers, (std::vector<bool> { false, false, false, false, false, false, false, true }));
}

TEST(FocusNudgePolicy, KeepsNudgesTwoFocusMinutesApartAcrossResets)
{
    // Developer mode: checks every 40 focus seconds, a floor of 40.
    FocusNudgePolicy policy(60, true);
    EXPECT_FALSE(policy.observe(offTask(260), 1));
    EXPECT_TRUE(policy.observe(offTask(300), 1));
    EXPECT_EQ(policy.lastNudge(), 300.0);

    EXPECT_FALSE(policy.observe(offTask(350), 1));
    EXPECT_FALSE(policy.observe(offTask(390), 1)); // span reached, but only 90 s since the nudge
    EXPECT_EQ(policy.run().size(), 2u);
    EXPECT_TRUE(policy.observe(offTask(420), 1));
    EXPECT_TRUE(policy.run().empty());

    policy.reset(); // a pause: the spacing still holds
    EXPECT_EQ(policy.lastNudge(), 420.0);
    EXPECT_FALSE(policy.observe(offTask(460), 1));
    EXPECT_FALSE(policy.observe(offTask(500), 1));
    EXPECT_FALSE(policy.observe(offTask(530), 1));
    EXPECT_TRUE(policy.observe(offTask(540), 1));

    policy.observe(offTask(580), 1);
    ASSERT_FALSE(policy.run().empty());
    policy.reset();
    EXPECT_TRUE(policy.run().empty());
}

TEST(MotivationNudgePlan, AsksTheSourceTwiceImageFirst)
{
    for (const auto& answers : { std::vector<bool> { true, false }, std::vector<bool> { false, true } }) {
        std::size_t calls = 0;
        const MotivationNudgePlan plan([&] { return answers.at(calls++); });
        EXPECT_EQ(calls, 2u);
        EXPECT_EQ(plan.showsImage, answers[0]);
        EXPECT_EQ(plan.playsAudio, answers[1]);
    }
    int heads = 0;
    for (int i = 0; i < 400; ++i)
        heads += MotivationNudgePlan::fairCoin() ? 1 : 0;
    EXPECT_GT(heads, 100);
    EXPECT_LT(heads, 300);
}
