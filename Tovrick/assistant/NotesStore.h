#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QCoro/QCoroTask>

#include <optional>
#include <vector>

#include "shared/util/Json.h"

// One transcript segment of a meeting-note chunk: a speaker label ("?" when unknown), its start and end
// in seconds into the chunk, and what was said.
struct TranscriptSegment {
    QString speaker = QStringLiteral("?");
    double start = 0;
    double end = 0;
    QString text;

    // Takes what it can from one segment of the transcription service; missing or mistyped members
    // keep the defaults. The text is trimmed of spaces and tabs.
    static TranscriptSegment fromJson(const Json& json);
};

// Where the phone's meeting notes go: one folder per listening session under the account's notes
// folder, and the transcription of its audio chunks. The assistant host reaches the notes only
// through this.
class NotesStore {
public:
    virtual ~NotesStore() = default;

    // The folder of a listening session, found by its id or made; none when no folder can be named
    // for that id.
    virtual std::optional<QString> sessionFolder(const QString& id, const QDateTime& started) = 0;
    // Keeps the phone's session record; the session folder, or none when the record lacks its
    // "id" or "started" or could not be written whole.
    virtual std::optional<QString> saveSession(const Json& record) = 0;
    // Transcribes one m4a chunk with speaker labels, or without them. Throw what the service threw.
    virtual QCoro::Task<std::vector<TranscriptSegment>> transcribeDiarized(QByteArray audio) = 0;
    virtual QCoro::Task<std::vector<TranscriptSegment>> transcribePlain(QByteArray audio) = 0;
};
