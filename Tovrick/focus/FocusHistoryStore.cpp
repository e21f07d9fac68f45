#include "Tovrick/focus/FocusHistoryStore.h"

#include "shared/account/TovrickAccount.h"
#include "shared/util/Files.h"
#include "shared/util/Log.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

QString FocusHistoryStore::fileName(const std::optional<QString>& userId)
{
    const QString key = userId ? TovrickAccount::nonceHash(*userId) : QStringLiteral("signed-out");
    return QStringLiteral("focus-history-%1.json").arg(key);
}

FocusHistoryStore::FocusHistoryStore(QString path) : m_path(std::move(path)) {}

void FocusHistoryStore::switchTo(const std::optional<QString>& userId)
{
    if (!m_path.isEmpty())
        m_path = QFileInfo(m_path).dir().filePath(fileName(userId));
    m_keepCopyBeforeWrite = false;
}

QString FocusHistoryStore::asidePath() const
{
    QString path = m_path;
    if (path.endsWith(QStringLiteral(".json")))
        path.chop(5);
    return path + QStringLiteral(".aside.json");
}

std::optional<std::vector<FocusSession>> FocusHistoryStore::decodeFile(const QString& path)
{
    const auto bytes = files::read(path);
    if (!bytes)
        return std::nullopt;
    try {
        return decodeFocusSessions(*bytes);
    } catch (const std::exception& error) {
        logline::warning(QStringLiteral("focus history %1 could not be read: %2")
                             .arg(QFileInfo(path).fileName(), QString::fromUtf8(error.what())));
        return std::nullopt;
    }
}

std::vector<FocusSession> FocusHistoryStore::load()
{
    m_keepCopyBeforeWrite = false;
    if (m_path.isEmpty())
        return {};
    // Saves that a kill cut short leave their temporaries here; this is the folder's next use.
    files::removeStaleTemporaries(QFileInfo(m_path).absolutePath(), {QStringLiteral("focus-history-*.json")});
    const bool exists = QFileInfo::exists(m_path);
    if (auto sessions = decodeFile(m_path))
        return std::move(*sessions);
    // A file that is there but cannot be read or decoded is still somebody's history.
    m_keepCopyBeforeWrite = exists;
    // Sessions saved beside it while it stood in the way.
    if (QFileInfo::exists(asidePath()))
        if (auto sessions = decodeFile(asidePath()))
            return std::move(*sessions);
    return {};
}

bool FocusHistoryStore::save(const std::vector<FocusSession>& history, const std::optional<FocusSession>& current)
{
    if (m_path.isEmpty())
        return false;
    QByteArray bytes;
    try {
        bytes = encodeFocusSessions(sessionsToWrite(history, current));
    } catch (const std::exception& error) {
        logline::warning(QStringLiteral("focus history not saved: %1").arg(QString::fromUtf8(error.what())));
        return false;
    }
    // Tried again on every save: whatever blocked the copy may have gone.
    if (m_keepCopyBeforeWrite && (!QFileInfo::exists(m_path) || files::keepUnreadableCopy(m_path)))
        m_keepCopyBeforeWrite = false;
    QString target = m_path;
    if (m_keepCopyBeforeWrite) {
        // No session may be lost to a file that can be neither read nor kept.
        target = asidePath();
        logline::warning(QStringLiteral("focus history: the unreadable %1 could not be copied aside; saving as %2")
                             .arg(QFileInfo(m_path).fileName(), QFileInfo(target).fileName()));
    }
    if (const auto error = files::writeAtomically(target, bytes, true)) {
        logline::warning(QStringLiteral("focus history not saved: %1").arg(*error));
        return false;
    }
    return true;
}

std::vector<FocusSession> FocusHistoryStore::sessionsToWrite(std::vector<FocusSession> history,
                                                             const std::optional<FocusSession>& current)
{
    if (current && current->status != FocusSession::Status::ended) {
        FocusSession closed = *current;
        closed.status = FocusSession::Status::ended;
        closed.detail = kClosedDetail;
        std::erase_if(history, [&](const FocusSession& session) { return session.id == closed.id; });
        history.insert(history.begin(), std::move(closed));
    }
    if (history.size() > kMaximumSessions)
        history.resize(kMaximumSessions);
    return history;
}

void FocusHistoryStore::putFirst(std::vector<FocusSession>& history, const FocusSession& session)
{
    std::erase_if(history, [&](const FocusSession& stored) { return stored.id == session.id; });
    history.insert(history.begin(), session);
    if (history.size() > kMaximumSessions)
        history.resize(kMaximumSessions);
}
