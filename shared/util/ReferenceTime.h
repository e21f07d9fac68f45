#pragma once

#include <QDateTime>

// Points in time in the stored records are seconds (with fraction) since 2001-01-01 00:00:00 UTC.
namespace referenceTime {

inline constexpr double kUnixOffset = 978307200.0; // 2001-01-01 in seconds since 1970

double now();
double fromDateTime(const QDateTime& when);
QDateTime toDateTime(double secondsSinceReference);
double fromUnix(double secondsSince1970);
double toUnix(double secondsSinceReference);

} // namespace referenceTime
