#include "shared/art/BlobPortrait.h"

#include "shared/art/ButlerArtwork.h"

#include <QMetaType>
#include <QPainter>
#include <QQmlEngine>

#include <algorithm>

BlobPortrait::BlobPortrait(QQuickItem* parent) : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

void BlobPortrait::setShowLimbs(bool on)
{
    if (on == m_showLimbs)
        return;
    m_showLimbs = on;
    emit showLimbsChanged();
    update();
}

void BlobPortrait::paint(QPainter* painter)
{
    const double side = std::min(width(), height());
    if (side <= 0)
        return;
    const QRectF square((width() - side) / 2, (height() - side) / 2, side, side);
    ButlerPose pose;
    pose.mood = Mood::resting;
    pose.gazeY = 0.15;
    pose.limbs = m_showLimbs;
    ButlerArtwork::paint(*painter, square, pose);
}

void BlobPortrait::componentComplete()
{
    QQuickPaintedItem::componentComplete();
    // The same as `Accessible.ignored: true` in QML, through the attached type's registered name:
    // its class is not public API.
    const QMetaType attachedType = QMetaType::fromName("QQuickAccessibleAttached*");
    if (const QMetaObject* attached = attachedType.metaObject()) {
        if (QObject* accessible = qmlAttachedPropertiesObject(this, qmlAttachedPropertiesFunction(this, attached)))
            accessible->setProperty("ignored", true);
    }
}

void BlobPortrait::registerQmlType()
{
    static const int registered = qmlRegisterType<BlobPortrait>("Tovrick.Art", 1, 0, "BlobPortrait");
    Q_UNUSED(registered);
}
