#include "Tovrick/focus/BusStateSignal.h"

#include <QAccessible>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QVariantMap>

void sendBusStateChange(QAccessibleInterface* node, const QString& state, bool on)
{
    if (!node || !QAccessible::isActive())
        return;
    // Qt's bridge names its connection so, and names a node on it by its unique id.
    QDBusConnection bus(QStringLiteral("a11y"));
    if (!bus.isConnected())
        return;
    const QString path = QStringLiteral("/org/a11y/atspi/accessible/%1").arg(QAccessible::uniqueId(node));
    QDBusMessage signal = QDBusMessage::createSignal(path, QStringLiteral("org.a11y.atspi.Event.Object"),
                                                     QStringLiteral("StateChanged"));
    signal.setArguments({state, int(on), 0, QVariant::fromValue(QDBusVariant(0)), QVariantMap()});
    bus.send(signal);
}
