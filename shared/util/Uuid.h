#pragma once

#include <QString>
#include <QUuid>

#include <optional>

namespace uuid {

// A fresh random identity.
QUuid make();
// The canonical 36-character form, uppercase, without braces.
QString text(const QUuid& id);
// Reads the canonical 36-character form in either case; anything else is not an id.
std::optional<QUuid> parse(const QString& text);

} // namespace uuid
