#include "shared/util/Log.h"

#include <QDebug>

namespace logline {

void info(const QString& message)
{
    qInfo().noquote() << QStringLiteral("Fennow: ") + message;
}

void warning(const QString& message)
{
    qWarning().noquote() << QStringLiteral("Fennow: ") + message;
}

} // namespace logline
