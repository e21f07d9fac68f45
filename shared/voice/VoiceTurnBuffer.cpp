#include "shared/voice/VoiceTurnBuffer.h"

void VoiceTurnBuffer::begin()
{
    *this = VoiceTurnBuffer();
}

std::optional<QByteArray> VoiceTurnBuffer::append(const QByteArray& chunk, bool ready)
{
    if (m_overflowed)
        return std::nullopt;
    m_recordedBytes += chunk.size();
    if (ready)
        return chunk;
    const qsizetype sum = m_pendingBytes + chunk.size();
    if (sum <= kMaximumPendingBytes) {
        m_pending.append(chunk);
        m_pendingBytes = sum;
        return std::nullopt;
    }
    m_overflowed = true;
    m_pending.clear();
    m_pendingBytes = 0;
    return std::nullopt;
}

QList<QByteArray> VoiceTurnBuffer::connected()
{
    QList<QByteArray> taken;
    taken.swap(m_pending);
    m_pendingBytes = 0;
    if (m_overflowed)
        return {};
    return taken;
}
