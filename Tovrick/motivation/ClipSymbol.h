#pragma once

#include <QQuickPaintedItem>
#include <QString>

// One of the Sounds screen's symbols (SVG files in the program's resources, coloured in the file),
// drawn at the item's size.
class ClipSymbol : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)

public:
    explicit ClipSymbol(QQuickItem* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);

    void paint(QPainter* painter) override;

signals:
    void nameChanged();

private:
    QString m_name;
};
