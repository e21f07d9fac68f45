#include <gtest/gtest.h>

#include <limits>
#include <tuple>

#include "shared/focus/FocusSession.h"
#include "shared/util/Text.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

using Status = FocusSession::Status;

FocusSession runningSession(bool developerMode, double elapsed = 0)
{
    FocusSession session(QStringLiteral("Write the report"), 600, developerMode);
    session.elapsed = elapsed;
    return session;
}

} // namespace

static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

TEST(FocusSessionCreate, ClampsDurationAndCutsTheTask)
{
    const std::tuple<double, bool, double, const char*> rows[] = {
        { 30, false, 60, "First check in 30 seconds" },
        { 20000, false, 14400, "First check in 30 seconds" },
        { kNaN, false, 60, "First check in 30 seconds" },
        { kInf, true, 14400, "First check in 10 seconds" },
    };
    for (const auto& [duration, developerMode, expectedDuration, detail] : rows) {
        const FocusSession session(QStringLiteral("task"), duration, developerMode);
        EXPECT_EQ(session.duration, expectedDuration) << duration;
        EXPECT_EQ(session.detail, QString::fromLatin1(detail)) << duration;
    }

    // 600 user-perceived characters, each accented letter two code units; the leading spaces stay.
    QString longTask = QStringLiteral("  ");
    for (int i = 0; i < 598; ++i)
        longTask += QString::fromUtf8("e\xCC\x81");
    const FocusSession cut(longTask, 600, false);
    EXPECT_EQ(text::characterCount(cut.task), 500);
    EXPECT_EQ(cut.task, longTask.left(2 + 498 * 2));
}

TEST(FocusSessionAdvance, MovesBothClocksAndStopsExactlyAtTheEnd)
{
    struct Row {
        const char* name;
        Status start;
        bool developerMode;
        double elapsed, seconds, expectedElapsed, expectedRealElapsed;
        Status expectedStatus;
    };
    const Status run = Status::running;
    const Row rows[] = {
        { "developer mode runs four times faster", run, true, 0, 10, 40, 10, run },
        { "developer mode stops the real clock at the end", run, true, 590, 5, 600, 2.5, Status::ended },
        { "exactly reaching the end", run, false, 590, 10, 600, 10, Status::ended },
        { "far past the end", run, false, 0, 5000, 600, 600, Status::ended },
        { "no time", run, true, 100, 0, 100, 0, run },
        { "time not a number", run, true, 100, kNaN, 100, 0, run },
        { "paused", Status::paused, false, 100, 10, 100, 0, Status::paused },
        { "ended", Status::ended, false, 100, 10, 100, 0, Status::ended },
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        FocusSession session = runningSession(row.developerMode, row.elapsed);
        session.status = row.start;
        session.advance(row.seconds);
        EXPECT_EQ(session.elapsed, row.expectedElapsed);
        EXPECT_EQ(session.realElapsed, row.expectedRealElapsed);
        EXPECT_EQ(session.status, row.expectedStatus);
        if (row.start == run && row.expectedStatus == Status::ended) {
            EXPECT_EQ(session.detail, QStringLiteral("Time's up. Lovely bit of focus."));
        }
    }

    // An older record without either field: normal speed, real clock picked up from the focus clock.
    FocusSession old = runningSession(false, 100);
    old.developerMode.reset();
    old.realElapsed.reset();
    old.advance(5);
    EXPECT_EQ(old.elapsed, 105.0);
    EXPECT_EQ(old.realElapsed, 105.0);
}

TEST(FocusSessionTransitions, PauseResumeEndAndDeveloperMode)
{
    FocusSession session = runningSession(false, 42);
    session.pause(QStringLiteral("Screen locked"));
    session.pause(QStringLiteral("Phone went quiet")); // already paused: no second marker, first reason kept
    EXPECT_EQ(session.status, Status::paused);
    EXPECT_EQ(session.detail, QStringLiteral("Screen locked"));
    ASSERT_EQ(session.checks.size(), 1u);
    EXPECT_EQ(session.checks.front().elapsed, 42.0);
    EXPECT_EQ(session.checks.front().activity, FocusActivity::paused);

    session.resume();
    session.resume(); // not paused: nothing
    EXPECT_EQ(session.status, Status::running);
    EXPECT_EQ(session.detail, QStringLiteral("Resumed. Next check in 30 seconds"));
    EXPECT_EQ(session.checks.size(), 1u);

    session.setDeveloperMode(true);
    session.pause(QStringLiteral("Asleep"));
    session.resume();
    EXPECT_EQ(session.detail, QStringLiteral("Resumed. Next check in 10 seconds"));
    session.setDeveloperMode(false);
    EXPECT_EQ(session.usedDeveloperMode, true);

    session.pause(QStringLiteral("Asleep"));
    session.end();
    EXPECT_EQ(session.status, Status::ended);
    EXPECT_EQ(session.detail, QStringLiteral("Session finished"));
    const FocusSession ended = session;
    session.resume();
    session.pause(QStringLiteral("late"));
    EXPECT_EQ(session, ended);
}

TEST(FocusSessionClock, PrintsMinutesAndSecondsRoundedUp)
{
    const std::pair<double, const char*> rows[] = {
        { 0, "00:00" }, { 0.4, "00:01" }, { 59.2, "01:00" }, { -5, "00:00" }, { 14400, "240:00" }, { kNaN, "00:00" },
    };
    for (const auto& [seconds, text] : rows)
        EXPECT_EQ(FocusSession::clock(seconds), QString::fromLatin1(text)) << seconds;
    // Absurd inputs print something instead of overflowing.
    for (double absurd : { kInf, 1e300 })
        EXPECT_FALSE(FocusSession::clock(absurd).isEmpty()) << absurd;
}

TEST(FocusCheckEstimate, UsesTheMapThenTheOffTaskProbability)
{
    using A = FocusActivity;
    const FocusCheck::Probabilities full { { QStringLiteral("on_task"), 0.2 }, { QStringLiteral("off_task"), 0.7 } };
    const std::tuple<const char*, FocusCheck, A, std::optional<double>> rows[] = {
        { "paused check", FocusCheck(0, A::paused, 0.7, 1, full), A::offTask, std::nullopt },
        { "asked for a marker", FocusCheck(0, A::offTask, 0.7, 1, { { { QStringLiteral("paused"), 0.4 } } }), A::paused,
          std::nullopt },
        { "off task, no map", FocusCheck(0, A::offTask, 0.7, 1), A::offTask, 0.7 },
        { "on task, no map", FocusCheck(0, A::offTask, 0.7, 1), A::onTask, std::nullopt },
        { "map entry wins", FocusCheck(0, A::onTask, 0.3, 1, full), A::offTask, 0.7 },
        { "map entry out of range", FocusCheck(0, A::offTask, 0.7, 1, { { { QStringLiteral("off_task"), 1.2 } } }),
          A::offTask, std::nullopt },
        { "map lacks the verdict", FocusCheck(0, A::offTask, 0.7, 1, { { { QStringLiteral("on_task"), 0.9 } } }),
          A::offTask, 0.7 },
    };
    for (const auto& [name, check, verdict, expected] : rows)
        EXPECT_EQ(check.estimate(verdict), expected) << name;
}
