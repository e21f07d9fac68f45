#pragma once

#include <QByteArray>
#include <QList>

#include <optional>

// One voice turn's audio accounts: chunks pass straight through while the link is ready and wait in
// a bounded queue while it is not. A turn that would queue more than 20 s of audio gives up whole:
// the queue is dropped and the turn takes nothing more until the next `begin()`. A value: the owner
// keeps one copy on one thread.
class VoiceTurnBuffer {
public:
    static constexpr qsizetype kMinimumCommitBytes = 4800;   // 100 ms
    static constexpr qsizetype kMaximumPendingBytes = 960000; // 20 s

    void begin();
    bool canCommit() const { return !m_overflowed && m_recordedBytes >= kMinimumCommitBytes; }
    // The chunk itself when it is to be sent now; none when it was queued or refused.
    std::optional<QByteArray> append(const QByteArray& chunk, bool ready);
    // The held-back chunks in arrival order (none after an overflow); the queue is emptied.
    QList<QByteArray> connected();

    qsizetype recordedBytes() const { return m_recordedBytes; }
    bool overflowed() const { return m_overflowed; }

private:
    qsizetype m_recordedBytes = 0;
    bool m_overflowed = false;
    QList<QByteArray> m_pending;
    qsizetype m_pendingBytes = 0;
};
