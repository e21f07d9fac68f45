#include <QDateTime>
#include <QDir>
#include <QTimeZone>
#include <gtest/gtest.h>

#include "Tovrick/focus/FocusHistoryPage.h"
#include "Tovrick/focus/FocusHistoryStore.h"
#include "focus/FocusWindowWorld.h"

namespace {

constexpr qint64 kReferenceEpoch = 978307200;

double localStart(int hour, int minute = 0)
{
    const QDateTime start(QDate(2026, 1, 5), QTime(hour, minute), Qt::LocalTime);
    return static_cast<double>(start.toSecsSinceEpoch() - kReferenceEpoch);
}

FocusSession finished(const QString& task, double startedAt, double elapsed, std::optional<double> real = std::nullopt)
{
    FocusSession session(task, 3600, false, QUuid::createUuid(), startedAt);
    session.elapsed = elapsed;
    session.realElapsed = real;
    session.end();
    return session;
}

// The engine's history as the store would hand it over for user-1.
struct HistoryWorld : FocusWindowWorld {
    FocusHistoryPage page { *engine };

    void give(const std::vector<FocusSession>& sessions)
    {
        FocusHistoryStore store(QDir(world.historyFolder()).filePath(FocusHistoryStore::fileName(QStringLiteral("user-1"))));
        ASSERT_TRUE(store.save(sessions, std::nullopt));
        engine->accountChanged(QStringLiteral("user-1"));
    }
    QStringList tasks() const
    {
        QStringList list;
        for (const QVariant& card : page.sessions())
            list << card.toMap().value(QStringLiteral("task")).toString();
        return list;
    }
};

} // namespace

TEST(FocusHistoryPage, NewestStartComesFirstWhateverTheStoredOrder)
{
    HistoryWorld w;
    w.give({ finished(QStringLiteral("Morning"), localStart(9), 600), finished(QStringLiteral("Afternoon"), localStart(14), 600),
             finished(QStringLiteral("Noon"), localStart(12), 600) });
    EXPECT_EQ(w.tasks(), (QStringList { QStringLiteral("Afternoon"), QStringLiteral("Noon"), QStringLiteral("Morning") }));
    EXPECT_EQ(w.page.sessionsText(), QStringLiteral("3 sessions"));
    EXPECT_EQ(w.page.focusedText(), QStringLiteral("30 min focused"));
}

TEST(FocusHistoryPage, MinutesPreferRealTimeAndTruncate)
{
    const struct {
        double elapsed;
        std::optional<double> real;
        int minutes;
    } cases[] = { { 2400, 600, 10 }, { 1799, std::nullopt, 29 }, { 59.9, std::nullopt, 0 },
                  { 3000, 119.99, 1 }, { 60, 0, 0 } };
    for (const auto& c : cases)
        EXPECT_EQ(FocusHistoryPage::minutes(finished(QStringLiteral("T"), 0, c.elapsed, c.real)), c.minutes) << c.elapsed;

    HistoryWorld w;
    EXPECT_EQ(w.page.sessionsText(), QStringLiteral("0 sessions"));
    EXPECT_EQ(w.page.focusedText(), QStringLiteral("0 min focused"));
    // 600 real seconds and 1799 focus-clock seconds: 2399 s, 39 whole minutes.
    w.give({ finished(QStringLiteral("A"), 1, 2400, 600), finished(QStringLiteral("B"), 2, 1799) });
    EXPECT_EQ(w.page.focusedText(), QStringLiteral("39 min focused"));
    EXPECT_EQ(w.page.sessions()[0].toMap().value(QStringLiteral("minutesText")).toString(), QStringLiteral("29 min"));
    EXPECT_EQ(w.page.sessions()[1].toMap().value(QStringLiteral("minutesText")).toString(), QStringLiteral("10 min"));
}

TEST(FocusHistoryPage, ChipsCountUncertainAndUnavailableTogetherAndSkipPauses)
{
    FocusSession session = finished(QStringLiteral("T"), 0, 600);
    session.checks.clear();
    for (FocusActivity activity : { FocusActivity::onTask, FocusActivity::offTask, FocusActivity::uncertain,
                                    FocusActivity::unavailable, FocusActivity::paused, FocusActivity::onTask })
        session.checks.emplace_back(30, activity, 0.5, 0.5);
    EXPECT_EQ(FocusHistoryPage::counts(session), (FocusHistoryPage::CheckCounts { 2, 1, 2 }));
    session.checks.clear();
    EXPECT_EQ(FocusHistoryPage::counts(session), (FocusHistoryPage::CheckCounts { 0, 0, 0 }));
}

TEST(FocusHistoryPage, LabelsAndDeveloperLine)
{
    FocusSession session = finished(QStringLiteral("Write the report"), 0, 1500);
    EXPECT_EQ(FocusHistoryPage::accessibilityLabel(session),
              QStringLiteral("Write the report, 25 minutes. Show session details"));
    EXPECT_EQ(FocusHistoryPage::developerText(session), QString());
    session.usedDeveloperMode = false;
    EXPECT_EQ(FocusHistoryPage::developerText(session), QString());
    session.usedDeveloperMode = true;
    session.elapsed = 2400;
    session.realElapsed = 600;
    EXPECT_EQ(FocusHistoryPage::developerText(session), QStringLiteral("Developer test \u00B7 40:00 on the focus clock"));
    EXPECT_EQ(FocusHistoryPage::accessibilityLabel(session),
              QStringLiteral("Write the report, 10 minutes. Show session details"));
}

TEST(FocusHistoryPage, StartFollowsTheLocale)
{
    const double start = localStart(9, 5);
    const struct {
        const char* locale;
        const char* text;
    } cases[] = { { "en_US", "Jan 5, 2026, 9:05 AM" }, { "en_GB", "5 Jan 2026, 09:05" },
                  { "de_DE", "5. Jan. 2026, 09:05" }, { "C", "5 Jan 2026, 09:05" } };
    for (const auto& c : cases) {
        QString text = FocusHistoryPage::startText(start, QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(text, QString::fromUtf8(c.text)) << c.locale;
    }
    EXPECT_EQ(FocusHistoryPage::startText(std::nan("")), QString());
}

TEST(FocusHistoryPage, OneCardOpenAtATime)
{
    HistoryWorld w;
    const FocusSession a = finished(QStringLiteral("A"), 1, 60);
    const FocusSession b = finished(QStringLiteral("B"), 2, 60);
    w.give({ a, b });
    const QString idA = a.id.toString(QUuid::WithoutBraces);
    const QString idB = b.id.toString(QUuid::WithoutBraces);
    EXPECT_EQ(w.page.expandedSessionText(), QString());
    w.page.toggleExpandedSession(idA);
    EXPECT_EQ(w.page.expandedSessionText(), idA);
    w.page.toggleExpandedSession(idB);
    EXPECT_EQ(w.page.expandedSessionText(), idB);
    w.page.toggleExpandedSession(idB);
    EXPECT_EQ(w.page.expandedSessionText(), QString());
    w.page.toggleExpandedSession(QStringLiteral("not an id"));
    EXPECT_FALSE(w.page.expandedSession().has_value());
}
