#pragma once

#include <QString>
#include <QUuid>

#include <ostream>

// Readable failure messages for the Qt values these tests compare.
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QUuid& id, std::ostream* out)
{
    *out << id.toString().toStdString();
}
