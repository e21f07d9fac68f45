#pragma once

#include <QQuickPaintedItem>

// The character's portrait for the windows and pages: drawn into whatever square the item is framed
// in (centred when the frame is not square), with arms and legs when `showLimbs` is set. Decoration
// only: hidden from accessibility.
class BlobPortrait : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(bool showLimbs READ showLimbs WRITE setShowLimbs NOTIFY showLimbsChanged)

public:
    explicit BlobPortrait(QQuickItem* parent = nullptr);

    bool showLimbs() const { return m_showLimbs; }
    void setShowLimbs(bool on);

    void paint(QPainter* painter) override;

    // Makes `BlobPortrait` available to QML as `import Tovrick.Art 1.0`. Safe to call more than once.
    static void registerQmlType();

signals:
    void showLimbsChanged();

protected:
    void componentComplete() override;

private:
    bool m_showLimbs = false;
};
