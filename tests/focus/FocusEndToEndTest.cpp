#include <gtest/gtest.h>

#include "FocusFakes.h"
#include "support/LoopbackApi.h"
#include "support/RunTask.h"

// A developer-mode session judged through the product's API: three sure off-task verdicts make a
// nudge, whose sentence and target come from the API as well.
TEST(FocusThroughTheApi, JudgesOnScheduleAndNudges)
{
    LoopbackApi api;
    signInForTests(api);
    api.answer(QStringLiteral("ai/decisions"), LoopbackAnswer::json(LoopbackApi::decisionAnswer(QStringLiteral("off_task"))));
    const Json nudge { { "message", "Those cats will keep." }, { "target_id", "L2" }, { "target_quote", "Funny cat videos" } };
    api.answer(QStringLiteral("ai/responses"),
               LoopbackAnswer::json(LoopbackApi::responseAnswer(QString::fromStdString(nudge.dump()))));

    FocusWorld world;
    FocusEnvironment environment = world.environment();
    environment.classify = [](ScreenSnapshot snapshot, FocusSession session, double idle) {
        return FocusAPI::classify(std::move(snapshot), std::move(session), idle);
    };
    environment.prepareNudge = [](ScreenSnapshot snapshot, QString task) {
        return FocusAPI::prepareNudge(std::move(snapshot), std::move(task));
    };
    FocusCompanion engine(environment);
    std::vector<std::pair<QString, std::optional<Target>>> nudges;
    engine.onNudge = [&](const QString& message, const std::optional<Target>& target) {
        nudges.emplace_back(message, target);
    };
    engine.setDeveloperMode(true);
    engine.start(QStringLiteral("Write the report"), false, 30);
    for (int check = 1; check <= 3; ++check) {
        world.run(engine, 10);
        ASSERT_TRUE(engine.checkRunning());
        ASSERT_TRUE(waitUntil([&] { return !engine.checkRunning(); }));
        EXPECT_EQ(api.requestCount(QStringLiteral("ai/decisions")), check);
        EXPECT_EQ(engine.current()->checks.back().activity, FocusActivity::offTask);
    }
    // Mean 0.9 needs a run of 44.4 focus seconds: the third check (80 seconds) makes it.
    ASSERT_EQ(nudges.size(), 1u);
    EXPECT_EQ(nudges[0].first, QStringLiteral("Those cats will keep."));
    ASSERT_TRUE(nudges[0].second.has_value());
    EXPECT_EQ(nudges[0].second->id, QStringLiteral("L2"));
    EXPECT_TRUE(engine.current()->checks.back().nudged);
    EXPECT_EQ(api.requestCount(QStringLiteral("ai/responses")), 1);
    const Json sent = api.lastRequest(QStringLiteral("ai/decisions"))->json()["body"];
    EXPECT_NE(sent["input"][0]["content"][0]["text"].get<std::string>().find("80s: off_task"), std::string::npos)
        << "the history of this session goes along";

    // A nudge slower than its time limit fails.
    api.answerOnce(QStringLiteral("ai/responses"),
                   LoopbackAnswer::json(LoopbackApi::responseAnswer()).after(std::chrono::seconds(3)));
    EXPECT_THROW(runTask(FocusAPI::prepareNudge(world.screen, QStringLiteral("Write"), 0.3)), FocusAPI::Failure);
}
