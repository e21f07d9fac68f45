#pragma once

#include <QImage>
#include <QQuickPaintedItem>
#include <QString>

// A reminder image filling its tile, cropped to keep its aspect, with the tile's rounded top
// corners. Decodes a small copy once per file, so twenty tiles stay light.
class VisionTileImage : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString source READ source WRITE setSource NOTIFY sourceChanged)
    Q_PROPERTY(bool loaded READ loaded NOTIFY sourceChanged)
    Q_PROPERTY(qreal radius MEMBER m_radius NOTIFY radiusChanged)

public:
    static constexpr int kDecodedEdge = 640;

    explicit VisionTileImage(QQuickItem* parent = nullptr);

    QString source() const { return m_source; }
    // A path or a file URL.
    void setSource(const QString& source);
    bool loaded() const { return !m_image.isNull(); }

    void paint(QPainter* painter) override;

signals:
    void sourceChanged();
    void radiusChanged();

private:
    QString m_source;
    QImage m_image;
    qreal m_radius = 14;
};
