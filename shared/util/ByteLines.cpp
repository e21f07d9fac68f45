#include "shared/util/ByteLines.h"

#include <cstring>

qsizetype firstIndexOfByte(const QByteArray& data, char byte, qsizetype from)
{
    if (from < 0 || from >= data.size())
        return -1;
    const void* hit = std::memchr(data.constData() + from, static_cast<unsigned char>(byte),
                                  static_cast<size_t>(data.size() - from));
    return hit ? static_cast<const char*>(hit) - data.constData() : -1;
}

void ByteLines::append(const QByteArray& bytes)
{
    // Appending to an empty array would share the piece, and with it all the room its reader set aside.
    if (m_buffer.isEmpty())
        m_buffer = QByteArray(bytes.constData(), bytes.size());
    else
        m_buffer.append(bytes);
}

std::optional<QByteArray> ByteLines::next()
{
    const qsizetype newline = firstIndexOfByte(m_buffer, '\n', m_scanned);
    if (newline < 0) {
        m_scanned = m_buffer.size();
        if (m_maximum >= 0 && pending() > m_maximum)
            m_overflowed = true;
        // Drop what was already handed out, so a long-lived stream does not grow without end, and give
        // back the room a long line took: holding it would keep megabytes for every quiet peer.
        if (m_start > 0) {
            m_buffer.remove(0, m_start);
            m_scanned -= m_start;
            m_start = 0;
        }
        if (m_buffer.isEmpty())
            m_buffer = QByteArray();
        else if (m_buffer.capacity() > 4 * m_buffer.size() + 64 * 1024)
            m_buffer.squeeze();
        return std::nullopt;
    }
    QByteArray line = m_buffer.mid(m_start, newline - m_start);
    m_start = newline + 1;
    m_scanned = m_start;
    if (m_maximum >= 0 && line.size() > m_maximum)
        m_overflowed = true;
    return line;
}

void ByteLines::clear()
{
    m_buffer.clear();
    m_start = 0;
    m_scanned = 0;
    m_overflowed = false;
}
