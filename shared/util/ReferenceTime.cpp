#include "shared/util/ReferenceTime.h"

#include <cmath>

namespace referenceTime {

double now()
{
    return fromDateTime(QDateTime::currentDateTimeUtc());
}

double fromDateTime(const QDateTime& when)
{
    return static_cast<double>(when.toMSecsSinceEpoch()) / 1000.0 - kUnixOffset;
}

QDateTime toDateTime(double secondsSinceReference)
{
    const double ms = std::round((secondsSinceReference + kUnixOffset) * 1000.0);
    return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(ms), Qt::UTC);
}

double fromUnix(double secondsSince1970)
{
    return secondsSince1970 - kUnixOffset;
}

double toUnix(double secondsSinceReference)
{
    return secondsSinceReference + kUnixOffset;
}

} // namespace referenceTime
