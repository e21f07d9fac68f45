#pragma once

#include <QString>

// Presses the control called `name` in this process's own windows as an assistive technology does:
// over the accessibility bus, with the Action interface's "Press". Answers what the bus answered;
// false when no shown control of that name offered the action in time.
bool pressOverBus(const QString& name);
