#include "Tovrick/assistant/RealtimeHost.h"

#include "Tovrick/assistant/WebResearch.h"
#include "shared/util/UserFacingError.h"

#include <QPointer>

namespace {

// Ends with a line feed after the marker line: the report follows it.
const QString kReportLead = QStringLiteral(
    "The full report is now in a card on the user's screen. Reply with ONE short line: the key takeaway in your "
    "own words. Don't repeat the report.\n---REPORT---\n");

} // namespace

QCoro::Task<QString> RealtimeHost::research(QString question, std::optional<QString> screenContext)
{
    QPointer<RealtimeHost> self(this);
    m_reports.showLoading(question);
    std::optional<ResearchReport> report;
    QString failure;
    try {
        auto researching = WebResearch::research(question, screenContext);
        report = co_await researching;
    } catch (...) {
        failure = describeError(std::current_exception(), QStringLiteral("Unknown error"));
    }
    if (report) {
        if (self)
            m_reports.show(*report);
        co_return kReportLead + report->text();
    }
    if (self)
        m_reports.showError(failure);
    co_return QStringLiteral("Research failed: ") + failure + QStringLiteral(". Tell the user in a few words.");
}
