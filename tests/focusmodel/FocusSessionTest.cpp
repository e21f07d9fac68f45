#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "Printers.h"
#include "shared/focus/FocusSession.h"
#include "shared/util/ReferenceTime.h"
#include "shared/util/Text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Status = FocusSession::Status;

FocusSession runningSession(bool developerMode, double duration = 600, double elapsed = 0)
{
    FocusSession session(QStringLiteral("Write the report"), duration, developerMode);
    session.elapsed = elapsed;
    return session;
}

} // namespace

TEST(FocusSessionCreate, ClampsDurationAndNamesTheFirstCheck)
{
    struct Row {
        double duration;
        bool developerMode;
        double expectedDuration;
        const char* expectedDetail;
    };
    const Row rows[] = {
        { 30, false, 60, "First check in 30 seconds" },
        { 20000, false, 14400, "First check in 30 seconds" },
        { kNaN, false, 60, "First check in 30 seconds" },
        { -kInf, false, 60, "First check in 30 seconds" },
        { kInf, true, 14400, "First check in 10 seconds" },
        { 1500, true, 1500, "First check in 10 seconds" },
        { 60, false, 60, "First check in 30 seconds" },
    };
    const double before = referenceTime::now();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.duration);
        const FocusSession session(QStringLiteral("task"), row.duration, row.developerMode);
        EXPECT_EQ(session.duration, row.expectedDuration);
        EXPECT_EQ(session.detail, QString::fromLatin1(row.expectedDetail));
        EXPECT_EQ(session.status, Status::running);
        EXPECT_EQ(session.elapsed, 0);
        EXPECT_TRUE(session.checks.empty());
        EXPECT_EQ(session.developerMode, row.developerMode);
        EXPECT_EQ(session.usedDeveloperMode, row.developerMode);
        EXPECT_EQ(session.realElapsed, 0.0);
        EXPECT_FALSE(session.id.isNull());
        EXPECT_GE(session.startedAt, before);
        EXPECT_LE(session.startedAt, referenceTime::now());
    }
}

TEST(FocusSessionCreate, CutsTheTaskToFiveHundredCharactersWithoutTrimming)
{
    const QString accented = QString::fromUtf8("e\xCC\x81"); // two code units, one character
    QString longTask = QStringLiteral("  ");
    for (int i = 0; i < 598; ++i)
        longTask += accented;
    const FocusSession cut(longTask, 600, false);
    EXPECT_EQ(text::characterCount(cut.task), 500);
    EXPECT_EQ(cut.task, longTask.left(2 + 498 * 2));

    const FocusSession untouched(QStringLiteral("  read \n"), 600, false);
    EXPECT_EQ(untouched.task, QStringLiteral("  read \n"));

    const QUuid id = QUuid::fromString(QStringLiteral("00000000-0000-0000-0000-0000000000AB"));
    const FocusSession fixed(QStringLiteral("x"), 90, false, id, 123.5);
    EXPECT_EQ(fixed.id, id);
    EXPECT_EQ(fixed.startedAt, 123.5);
}

TEST(FocusSessionDerived, ValuesFollowDeveloperMode)
{
    FocusSession session = runningSession(false);
    session.developerMode.reset();
    EXPECT_FALSE(session.isDeveloperMode());
    EXPECT_EQ(session.clockRate(), 1.0);
    EXPECT_EQ(session.checkInterval(), 30.0);
    EXPECT_EQ(session.observationDuration(), 30.0);
    session.setDeveloperMode(true);
    EXPECT_EQ(session.clockRate(), 4.0);
    EXPECT_EQ(session.checkInterval(), 10.0);
    EXPECT_EQ(session.observationDuration(), 40.0);

    session.elapsed = 700; // past a 600 s plan
    EXPECT_EQ(session.remaining(), 0.0);
    session.elapsed = 100;
    EXPECT_EQ(session.remaining(), 500.0);
    session.realElapsed.reset();
    EXPECT_EQ(session.realActiveElapsed(), 100.0);
}

TEST(FocusSessionAdvance, MovesBothClocksAndStopsExactlyAtTheEnd)
{
    struct Row {
        const char* name;
        bool developerMode;
        double elapsed;
        double seconds;
        double expectedElapsed;
        double expectedRealElapsed;
        Status expectedStatus;
    };
    const Row rows[] = {
        { "normal", false, 0, 10, 10, 10, Status::running },
        { "developer mode runs four times faster", true, 0, 10, 40, 10, Status::running },
        { "developer mode stops the real clock at the end", true, 590, 5, 600, 2.5, Status::ended },
        { "exactly reaching the end", false, 590, 10, 600, 10, Status::ended },
        { "far past the end", false, 0, 5000, 600, 600, Status::ended },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FocusSession session = runningSession(row.developerMode, 600, row.elapsed);
        session.advance(row.seconds);
        EXPECT_EQ(session.elapsed, row.expectedElapsed);
        EXPECT_EQ(session.realElapsed, row.expectedRealElapsed);
        EXPECT_EQ(session.status, row.expectedStatus);
        if (row.expectedStatus == Status::ended) {
            EXPECT_EQ(session.detail, QStringLiteral("Time's up. Lovely bit of focus."));
        }
    }
}

TEST(FocusSessionAdvance, IgnoresUnusableTimesAndSessionsThatAreNotRunning)
{
    for (double seconds : { 0.0, -1.0, kInf, -kInf, kNaN }) {
        SCOPED_TRACE(seconds);
        const FocusSession before = runningSession(true, 600, 100);
        FocusSession after = before;
        after.advance(seconds);
        EXPECT_EQ(after, before);
    }
    FocusSession paused = runningSession(false, 600, 100);
    paused.pause(QStringLiteral("Screen locked"));
    FocusSession ended = runningSession(false, 600, 100);
    ended.end();
    for (const FocusSession& before : { paused, ended }) {
        FocusSession after = before;
        after.advance(10);
        EXPECT_EQ(after, before);
    }
}

TEST(FocusSessionAdvance, RecordWithoutRealClockStartsFromTheFocusClock)
{
    FocusSession session = runningSession(false, 600, 100);
    session.realElapsed.reset();
    session.advance(5);
    EXPECT_EQ(session.realElapsed, 105.0);
    EXPECT_EQ(session.elapsed, 105.0);
}

TEST(FocusSessionTransitions, PauseResumeEndAndDeveloperMode)
{
    FocusSession session = runningSession(false, 600, 42);
    session.pause(QStringLiteral("Screen locked"));
    EXPECT_EQ(session.status, Status::paused);
    EXPECT_EQ(session.detail, QStringLiteral("Screen locked"));
    ASSERT_EQ(session.checks.size(), 1u);
    const FocusCheck& marker = session.checks.front();
    EXPECT_FALSE(marker.id.isNull());
    EXPECT_EQ(marker.elapsed, 42.0);
    EXPECT_EQ(marker.activity, FocusActivity::paused);
    EXPECT_EQ(marker.probability, 0.0);
    EXPECT_EQ(marker.confidence, 0.0);
    EXPECT_FALSE(marker.probabilities.has_value());
    EXPECT_FALSE(marker.sampleDuration.has_value());
    EXPECT_FALSE(marker.nudged);

    session.pause(QStringLiteral("Phone went quiet")); // already paused: no second marker, first reason kept
    EXPECT_EQ(session.checks.size(), 1u);
    EXPECT_EQ(session.detail, QStringLiteral("Screen locked"));

    session.resume();
    EXPECT_EQ(session.status, Status::running);
    EXPECT_EQ(session.detail, QStringLiteral("Resumed. Next check in 30 seconds"));
    EXPECT_EQ(session.checks.size(), 1u);

    const FocusSession running = session;
    session.resume(); // not paused: nothing
    EXPECT_EQ(session, running);

    session.setDeveloperMode(true);
    session.pause(QStringLiteral("Mac asleep"));
    session.resume();
    EXPECT_EQ(session.detail, QStringLiteral("Resumed. Next check in 10 seconds"));
    session.setDeveloperMode(false);
    EXPECT_EQ(session.developerMode, false);
    EXPECT_EQ(session.usedDeveloperMode, true);

    session.pause(QStringLiteral("Mac asleep"));
    session.end();
    EXPECT_EQ(session.status, Status::ended);
    EXPECT_EQ(session.detail, QStringLiteral("Session finished"));

    const FocusSession ended = session;
    session.resume();
    session.pause(QStringLiteral("late"));
    EXPECT_EQ(session, ended);
    session.setDeveloperMode(true); // looks at no status
    EXPECT_EQ(session.developerMode, true);
}

TEST(FocusSessionClock, PrintsMinutesAndSecondsRoundedUp)
{
    struct Row {
        double seconds;
        const char* text;
    };
    const Row rows[] = {
        { 0, "00:00" },      { 0.4, "00:01" },   { 59.2, "01:00" }, { 61, "01:01" },
        { -5, "00:00" },     { 14400, "240:00" }, { kNaN, "00:00" }, { -kInf, "00:00" },
        { 599.999, "10:00" },
    };
    for (const Row& row : rows)
        EXPECT_EQ(FocusSession::clock(row.seconds), QString::fromLatin1(row.text)) << row.seconds;
    // Absurd inputs print something instead of overflowing.
    EXPECT_FALSE(FocusSession::clock(kInf).isEmpty());
    EXPECT_FALSE(FocusSession::clock(1e300).isEmpty());
}

TEST(FocusCheckEstimate, UsesTheMapThenTheOffTaskProbability)
{
    using A = FocusActivity;
    const FocusCheck::Probabilities full { { QStringLiteral("on_task"), 0.2 },
                                           { QStringLiteral("off_task"), 0.7 },
                                           { QStringLiteral("uncertain"), 0.1 } };
    const FocusCheck::Probabilities outOfRange { { QStringLiteral("off_task"), 1.2 } };
    const FocusCheck::Probabilities onlyOnTask { { QStringLiteral("on_task"), 0.9 } };
    struct Row {
        const char* name;
        FocusCheck check;
        A verdict;
        std::optional<double> expected;
    };
    const Row rows[] = {
        { "paused check", FocusCheck(0, A::paused, 0.7, 1, full), A::offTask, std::nullopt },
        { "unavailable check", FocusCheck(0, A::unavailable, 0.7, 1, full), A::onTask, std::nullopt },
        { "asked for a marker", FocusCheck(0, A::offTask, 0.7, 1, full), A::paused, std::nullopt },
        { "off task, no map", FocusCheck(0, A::offTask, 0.7, 1), A::offTask, 0.7 },
        { "on task, no map", FocusCheck(0, A::offTask, 0.7, 1), A::onTask, std::nullopt },
        { "map entry wins", FocusCheck(0, A::onTask, 0.3, 1, full), A::offTask, 0.7 },
        { "map entry for on task", FocusCheck(0, A::onTask, 0.3, 1, full), A::uncertain, 0.1 },
        { "map entry out of range", FocusCheck(0, A::offTask, 0.7, 1, outOfRange), A::offTask, std::nullopt },
        { "map lacks the verdict", FocusCheck(0, A::offTask, 0.7, 1, onlyOnTask), A::offTask, 0.7 },
        { "probability not a number", FocusCheck(0, A::offTask, kNaN, 1), A::offTask, std::nullopt },
        { "probability above one", FocusCheck(0, A::offTask, 1.01, 1), A::offTask, std::nullopt },
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.check.estimate(row.verdict), row.expected) << row.name;
}
