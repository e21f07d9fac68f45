#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

#include <optional>

#include "Tovrick/assistant/WebResearch.h"

// What the research report card shows: the question under research, then the report or the error, and
// whether the full report is open. A report wins over an error, an error over the loading line.
class ReportModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString state READ state NOTIFY changed)
    Q_PROPERTY(QString question READ question NOTIFY changed)
    Q_PROPERTY(QString heading READ heading NOTIFY changed)
    Q_PROPERTY(QString loadingText READ loadingText NOTIFY changed)
    Q_PROPERTY(QString preview READ preview NOTIFY changed)
    Q_PROPERTY(QStringList paragraphs READ paragraphs NOTIFY changed)
    Q_PROPERTY(QVariantList sources READ sources NOTIFY changed)
    Q_PROPERTY(QString errorText READ errorText NOTIFY changed)
    Q_PROPERTY(bool expanded READ expanded NOTIFY changed)
    Q_PROPERTY(bool hasReport READ hasReport NOTIFY changed)

public:
    using QObject::QObject;

    const std::optional<ResearchReport>& report() const { return m_report; }
    const std::optional<QString>& error() const { return m_error; }
    QString question() const { return m_question; }
    bool expanded() const { return m_expanded; }
    bool hasReport() const { return m_report.has_value(); }

    void setQuestion(const QString& question);
    void setReport(std::optional<ResearchReport> report);
    void setError(std::optional<QString> error);
    void setExpanded(bool expanded);

    // "loading", "error", "collapsed" or "expanded".
    QString state() const;
    QString heading() const;
    QString loadingText() const;
    // The paragraphs on one line each apart by a space.
    QString preview() const;
    QStringList paragraphs() const;
    // One map per source: "title", "url" and "opens" (only web pages open on a click).
    QVariantList sources() const;
    QString errorText() const { return m_error.value_or(QString()); }

    // Only web pages open from the card: another scheme could run something on a click.
    static bool opensOnClick(const QUrl& url);

signals:
    void changed();

private:
    QString m_question;
    std::optional<ResearchReport> m_report;
    std::optional<QString> m_error;
    bool m_expanded = false;
};
