#include "shared/ui/PopupAccessible.h"

#include <QMetaType>
#include <QQuickItem>
#include <QtQml/qqml.h>

void PopupAccessible::describe(QObject* popup, const QString& name, const QString& description) const
{
    auto* content = popup ? popup->property("contentItem").value<QQuickItem*>() : nullptr;
    QQuickItem* node = content ? content->parentItem() : nullptr;
    const QMetaObject* attachedType = QMetaType::fromName("QQuickAccessibleAttached*").metaObject();
    if (!node || !attachedType)
        return;
    QObject* attached = qmlAttachedPropertiesObject(node, qmlAttachedPropertiesFunction(node, attachedType), true);
    if (!attached)
        return;
    attached->setProperty("name", name);
    attached->setProperty("description", description);
}

void PopupAccessible::registerQmlType(const char* uri)
{
    qmlRegisterSingletonType<PopupAccessible>(uri, 1, 0, "PopupAccessible",
                                              [](QQmlEngine*, QJSEngine*) -> QObject* { return new PopupAccessible; });
}
