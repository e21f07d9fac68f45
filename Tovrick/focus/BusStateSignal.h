#pragma once

#include <QString>

class QAccessibleInterface;

// Tells the accessibility bus that `state` (an AT-SPI state name such as "expanded") of `node` is
// now `on`, on the connection Qt's own bridge uses, as that bridge would: for the changes it does
// not pass on. Does nothing while no bridge is connected.
void sendBusStateChange(QAccessibleInterface* node, const QString& state, bool on);
