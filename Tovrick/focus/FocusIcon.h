#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QString>

// One of the window's icons (SVG files shipped in the program's resources), drawn in one colour so
// that the same picture serves selected and unselected tabs and every button.
class FocusIcon : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY colorChanged)

public:
    explicit FocusIcon(QQuickItem* parent = nullptr);

    QString name() const { return m_name; }
    void setName(const QString& name);
    QColor color() const { return m_color; }
    void setColor(const QColor& color);

    void paint(QPainter* painter) override;

    // The icon `name` at `size` pixels in `color`; a null image for an unknown name.
    static QImage render(const QString& name, QSize size, const QColor& color);

signals:
    void nameChanged();
    void colorChanged();

private:
    QString m_name;
    QColor m_color = Qt::white;
};
