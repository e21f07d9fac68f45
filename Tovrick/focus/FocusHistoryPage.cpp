#include "Tovrick/focus/FocusHistoryPage.h"

#include <QDateTime>
#include <QRegularExpression>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/MacFocusView.h"

namespace {

// Seconds between 1970-01-01 and 2001-01-01 UTC.
constexpr qint64 kReferenceEpoch = 978307200;

QString abbreviatedDateFormat(const QLocale& locale)
{
    // The locale's long date without the weekday and with the month's short name.
    QString format = locale.dateFormat(QLocale::LongFormat);
    static const QRegularExpression weekday(QStringLiteral("d{3,4}[,.\\s\u060C\u3001]*"));
    format.remove(weekday);
    format.replace(QStringLiteral("MMMM"), QStringLiteral("MMM"));
    static const QRegularExpression edges(QStringLiteral("^[,\\s]+|[,\\s]+$"));
    format.remove(edges);
    return format;
}

} // namespace

FocusHistoryPage::FocusHistoryPage(FocusCompanion& focus, QObject* parent) : QObject(parent), m_focus(focus)
{
    connect(&m_focus, &FocusCompanion::historyChanged, this, &FocusHistoryPage::historyChanged);
}

std::vector<FocusSession> FocusHistoryPage::sorted(std::vector<FocusSession> history)
{
    std::stable_sort(history.begin(), history.end(),
                     [](const FocusSession& a, const FocusSession& b) { return a.startedAt > b.startedAt; });
    return history;
}

int FocusHistoryPage::minutes(const FocusSession& session)
{
    return static_cast<int>(std::trunc(session.realElapsed.value_or(session.elapsed) / 60));
}

FocusHistoryPage::CheckCounts FocusHistoryPage::counts(const FocusSession& session)
{
    CheckCounts counts;
    for (const FocusCheck& check : session.checks) {
        switch (check.activity) {
        case FocusActivity::onTask: ++counts.onTask; break;
        case FocusActivity::offTask: ++counts.offTask; break;
        case FocusActivity::uncertain:
        case FocusActivity::unavailable: ++counts.unknown; break;
        case FocusActivity::paused: break;
        }
    }
    return counts;
}

QString FocusHistoryPage::accessibilityLabel(const FocusSession& session)
{
    return session.task + QStringLiteral(", ") + QString::number(minutes(session))
        + QStringLiteral(" minutes. Show session details");
}

QString FocusHistoryPage::startText(double startedAt, const QLocale& locale)
{
    if (!std::isfinite(startedAt))
        return {};
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(
        static_cast<qint64>(std::llround((startedAt + kReferenceEpoch) * 1000)), Qt::LocalTime);
    // A short time never shows seconds, even where the locale's (the C locale's) would.
    QString timeFormat = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression seconds(QStringLiteral("[:.]ss?"));
    timeFormat.remove(seconds);
    return locale.toString(start.date(), abbreviatedDateFormat(locale)) + QStringLiteral(", ")
        + locale.toString(start.time(), timeFormat);
}

QString FocusHistoryPage::developerText(const FocusSession& session)
{
    if (!session.usedDeveloperMode.value_or(false))
        return {};
    return QStringLiteral("Developer test \u00B7 ") + FocusSession::clock(session.elapsed)
        + QStringLiteral(" on the focus clock");
}

QVariantList FocusHistoryPage::sessions() const
{
    QVariantList list;
    for (const FocusSession& session : sorted(m_focus.history())) {
        const CheckCounts checks = counts(session);
        list.append(QVariantMap {
            { QStringLiteral("id"), session.id.toString(QUuid::WithoutBraces) },
            { QStringLiteral("task"), session.task },
            { QStringLiteral("start"), startText(session.startedAt) },
            { QStringLiteral("minutesText"), QStringLiteral("%1 min").arg(minutes(session)) },
            { QStringLiteral("onTask"), checks.onTask },
            { QStringLiteral("offTask"), checks.offTask },
            { QStringLiteral("unknown"), checks.unknown },
            { QStringLiteral("detail"), session.detail },
            { QStringLiteral("developer"), developerText(session) },
            { QStringLiteral("label"), accessibilityLabel(session) },
        });
    }
    return list;
}

int FocusHistoryPage::sessionCount() const
{
    return static_cast<int>(m_focus.history().size());
}

QString FocusHistoryPage::sessionsText() const
{
    return QStringLiteral("%1 sessions").arg(sessionCount());
}

QString FocusHistoryPage::focusedText() const
{
    return QStringLiteral("%1 min focused").arg(MacFocusView::focusedMinutes(m_focus.history()));
}

QString FocusHistoryPage::expandedSessionText() const
{
    return m_expanded ? m_expanded->toString(QUuid::WithoutBraces) : QString();
}

void FocusHistoryPage::toggleExpandedSession(const QString& id)
{
    const QUuid chosen(id);
    if (chosen.isNull())
        return;
    if (m_expanded == chosen)
        m_expanded.reset();
    else
        m_expanded = chosen;
    emit expandedSessionChanged();
}
