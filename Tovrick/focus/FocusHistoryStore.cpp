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

std::vector<FocusSession> FocusHistoryStore::load()
{
    m_keepCopyBeforeWrite = false;
    if (m_path.isEmpty())
        return {};
    const auto bytes = files::read(m_path);
    if (!bytes) {
        // A file that is there but cannot be read is still somebody's history.
        m_keepCopyBeforeWrite = QFileInfo::exists(m_path);
        return {};
    }
    try {
        return decodeFocusSessions(*bytes);
    } catch (const std::exception& error) {
        logline::warning(QStringLiteral("focus history %1 could not be read: %2")
                             .arg(QFileInfo(m_path).fileName(), QString::fromUtf8(error.what())));
        m_keepCopyBeforeWrite = true;
        return {};
    }
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
    if (m_keepCopyBeforeWrite) {
        if (!files::keepUnreadableCopy(m_path)) {
            logline::warning(QStringLiteral("focus history not saved: the unreadable %1 could not be copied aside")
                                 .arg(QFileInfo(m_path).fileName()));
            return false;
        }
        m_keepCopyBeforeWrite = false;
    }
    if (const auto error = files::writeAtomically(m_path, bytes, true)) {
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
