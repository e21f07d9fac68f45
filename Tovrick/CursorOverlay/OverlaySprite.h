#pragma once

#include <QImage>
#include <QPoint>
#include <QRasterWindow>

// One small click-through window over the desktop, out of the window manager's hands, showing one
// picture: the character, its bubble, a label, a ring or the goal photo. Moving it only moves the
// window; a new picture repaints it and recuts its shape.
class OverlaySprite : public QRasterWindow {
    Q_OBJECT

public:
    explicit OverlaySprite(const QString& name);

    // Shows `picture` (device pixel ratio respected) with its top-left at `topLeft`, in global
    // logical coordinates.
    void present(const QImage& picture, QPoint topLeft);
    void moveTo(QPoint topLeft);
    void dismiss();
    const QImage& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    bool m_marked = false;
};
