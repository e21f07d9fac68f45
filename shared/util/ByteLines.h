#pragma once

#include <QByteArray>

#include <optional>

// The first position of `byte` in `data` at or after `from`, or -1.
qsizetype firstIndexOfByte(const QByteArray& data, char byte, qsizetype from = 0);

// Cuts a byte stream into newline-terminated lines. Bytes arrive in any pieces; each complete line is
// handed out once, without its newline. A line longer than `maximumLine` bytes marks the stream as
// overflowed (the caller decides: drop the peer, or skip the line).
class ByteLines {
public:
    explicit ByteLines(qsizetype maximumLine = -1) : m_maximum(maximumLine) {}

    void append(const QByteArray& bytes);
    // The next complete line, if one has arrived.
    std::optional<QByteArray> next();
    // True once a line (complete or still arriving) went past the limit.
    bool overflowed() const { return m_overflowed; }
    qsizetype pending() const { return m_buffer.size() - m_start; }
    // The memory the buffer holds, which after a long line can be more than what is pending.
    qsizetype held() const { return m_buffer.capacity(); }
    void clear();

private:
    QByteArray m_buffer;
    qsizetype m_start = 0;
    qsizetype m_scanned = 0;
    qsizetype m_maximum;
    bool m_overflowed = false;
};
