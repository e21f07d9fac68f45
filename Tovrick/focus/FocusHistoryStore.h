#pragma once

#include <QString>

#include <optional>
#include <vector>

#include "shared/focus/FocusSession.h"

// One account's focus history file: a compact JSON array of sessions, newest first, at most 30,
// rewritten whole (atomically, mode 0600) after every change.
class FocusHistoryStore {
public:
    static constexpr std::size_t kMaximumSessions = 30;
    static inline const QString kClosedDetail = QStringLiteral("App closed or restarted");

    // "focus-history-signed-out.json", or "focus-history-" + the user id's hash + ".json".
    static QString fileName(const std::optional<QString>& userId);

    // An empty path (no app folder could be made) keeps the history in memory only.
    explicit FocusHistoryStore(QString path);

    const QString& path() const { return m_path; }
    // The file of another account in the same folder.
    void switchTo(const std::optional<QString>& userId);

    // The sessions as stored, untouched; empty when the file is missing or cannot be decoded. A file
    // that exists but cannot be read or decoded is copied aside (+ ".bad") before it is first
    // overwritten; while it can be neither read nor copied, saves go to a file beside it
    // ("….aside.json"), which is read in its place.
    std::vector<FocusSession> load();
    // Writes the history with the open session, if any, in front as ended (so a crash or quit still
    // leaves it on disk). Returns false when nothing was written; the old file is then untouched.
    bool save(const std::vector<FocusSession>& history, const std::optional<FocusSession>& current);
    // Where saves go while the file can be neither read nor copied aside.
    QString asidePath() const;

    // What `save` writes.
    static std::vector<FocusSession> sessionsToWrite(std::vector<FocusSession> history,
                                                     const std::optional<FocusSession>& current);
    // Puts `session` at the front, replacing any entry with its id, and keeps the newest 30.
    static void putFirst(std::vector<FocusSession>& history, const FocusSession& session);

private:
    // The file's sessions; none when it cannot be read or decoded.
    static std::optional<std::vector<FocusSession>> decodeFile(const QString& path);

    QString m_path;
    bool m_keepCopyBeforeWrite = false;
};
