#pragma once

#include <QObject>
#include <QString>

// Names a Qt Quick Controls popup on the accessibility bus. Its node is its inner item, which QML's
// `Accessible` cannot reach in Qt 6.4: a dialog would read as an unnamed dialog.
class PopupAccessible : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // Names `popup`'s node `name` and describes it by `description`.
    Q_INVOKABLE void describe(QObject* popup, const QString& name, const QString& description) const;
    // Available to QML as `PopupAccessible` under `uri` 1.0.
    static void registerQmlType(const char* uri);
};
