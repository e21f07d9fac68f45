#include "Tovrick/assistant/ReportModel.h"

#include <QVariantMap>

void ReportModel::setQuestion(const QString& question)
{
    m_question = question;
    emit changed();
}

void ReportModel::setReport(std::optional<ResearchReport> report)
{
    m_report = std::move(report);
    emit changed();
}

void ReportModel::setError(std::optional<QString> error)
{
    m_error = std::move(error);
    emit changed();
}

void ReportModel::setExpanded(bool expanded)
{
    m_expanded = expanded;
    emit changed();
}

QString ReportModel::state() const
{
    if (m_report)
        return m_expanded ? QStringLiteral("expanded") : QStringLiteral("collapsed");
    return m_error ? QStringLiteral("error") : QStringLiteral("loading");
}

QString ReportModel::heading() const
{
    if (m_report)
        return m_report->title;
    return m_error ? QStringLiteral("Research") : QStringLiteral("Researching");
}

QString ReportModel::loadingText() const
{
    return QStringLiteral("Doing some research on \u201c") + m_question + QStringLiteral("\u201d");
}

QString ReportModel::preview() const
{
    return m_report ? m_report->paragraphs.join(QLatin1Char(' ')) : QString();
}

QStringList ReportModel::paragraphs() const
{
    return m_report ? m_report->paragraphs : QStringList();
}

bool ReportModel::opensOnClick(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    return url.isValid() && !url.host().isEmpty()
        && (scheme == QLatin1String("http") || scheme == QLatin1String("https"));
}

QVariantList ReportModel::sources() const
{
    QVariantList list;
    if (!m_report)
        return list;
    for (const ResearchReport::Source& source : m_report->sources)
        list.append(QVariantMap {{QStringLiteral("title"), source.title},
                                 {QStringLiteral("url"), source.url.toString()},
                                 {QStringLiteral("opens"), opensOnClick(source.url)}});
    return list;
}
