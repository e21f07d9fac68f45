#pragma once

#include <QString>

// The one logger: every line starts "Fennow: ". Never pass keys, tokens or audio to it.
namespace logline {

void info(const QString& message);
void warning(const QString& message);

} // namespace logline
