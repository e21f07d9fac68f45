#pragma once

#include <QDateTime>
#include <QString>

#include <optional>
#include <vector>

#include "Tovrick/assistant/NotesStore.h"
#include "shared/util/Json.h"

// The phone's meeting notes on disk: Documents/"Tovrick Notes"/<hashed user id>/, one folder per
// listening session holding the phone's record ("session.json"), its readable form ("notes.md") and
// the audio chunks. Holds nothing in memory: the account's folder is worked out on every call, so a
// change of account sends everything after it to the new account's folder.
class MeetingNotes final : public NotesStore {
public:
    using Segment = TranscriptSegment;

    // The folder of the signed-in account (or of "signed-out"). Creates nothing.
    static QString notesRoot();
    // The folder's description, written once into the notes root and never overwritten.
    static QString readmeText();
    static void writeReadme();
    // The last part of a session folder's name: the first eight characters of the id, lowercased.
    // None for an id that cannot name a folder (empty, or a separator or NUL in those characters).
    static std::optional<QString> folderSuffix(const QString& id);
    // The readable notes of a session record, ending with a line feed.
    static QString renderNotes(const Json& record, const QDateTime& started);
    // One speaker's neighbouring pieces less than 2.5 s apart read as one; empty pieces go.
    static std::vector<Segment> mergeSegments(std::vector<Segment> segments);
    // Seconds since 1970 as a date the calendar can hold.
    static QDateTime dateFromSeconds(double seconds);

    std::optional<QString> sessionFolder(const QString& id, const QDateTime& started) override;
    std::optional<QString> saveSession(const Json& record) override;
    QCoro::Task<std::vector<Segment>> transcribeDiarized(QByteArray audio) override;
    QCoro::Task<std::vector<Segment>> transcribePlain(QByteArray audio) override;

    // The transcription service's answer for one chunk, which must be a JSON object.
    static QCoro::Task<Json> transcribeChunk(QByteArray audio, bool diarize);
};
