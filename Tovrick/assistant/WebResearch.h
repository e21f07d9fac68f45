#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QCoro/QCoroTask>

#include <optional>
#include <vector>

#include "shared/util/Json.h"
#include "shared/util/UserFacingError.h"

// One research run's result: a short title, up to four paragraphs and up to five cited pages.
struct ResearchReport {
    struct Source {
        QString title;
        QUrl url;
        bool operator==(const Source&) const = default;
    };

    QString question;
    QString title;
    QStringList paragraphs;
    std::vector<Source> sources;

    // The title and the paragraphs, each apart by a blank line.
    QString text() const;
};

// Answers one question with the model service's web search. No state: runs are independent.
namespace WebResearch {

// A research answer that could not be read.
class ResearchError : public UserFacingError {
public:
    explicit ResearchError(const QString& detail);
    const QString& detail() const { return m_detail; }

private:
    QString m_detail;
};

inline constexpr double timeoutSeconds = 90;

// The "responses" body for a question and, when it holds anything, what is on the user's screen.
Json requestBody(const QString& question, const std::optional<QString>& screenContext);

// Asks the model service through the signed-in account. A failed request throws FocusAPI::Failure with
// the request's own sentence; an answer that cannot be read throws what parseResponse throws.
QCoro::Task<ResearchReport> research(QString question, std::optional<QString> screenContext);

// Reads the service's answer. Throws JsonDecodeError for bytes that are not JSON and ResearchError
// for JSON that is not an object or holds no answer text.
ResearchReport parseResponse(const QByteArray& body, const QString& question);

// A cited address without its "utm_source" query items (and without the "?" when nothing is left).
QString withoutTrackingQuery(const QString& url);

} // namespace WebResearch
