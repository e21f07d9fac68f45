#pragma once

#include <QColor>
#include <QQuickPaintedItem>
#include <QRect>
#include <QString>

#include <optional>
#include <vector>

class QPainter;

// A QR code made with libqrencode, drawn with whole device pixels per module so that it stays crisp
// at any size: a phone camera reads hard edges best.
class QrCode {
public:
    // Medium correction: smaller codes with larger modules read better from arm's length off a screen
    // than more redundancy would.
    static constexpr int correctionLevel = 1; // QR_ECLEVEL_M
    // The light margin every reader expects, in modules.
    static constexpr int quietZone = 4;

    // None when the text is too long for any QR code at this level.
    static std::optional<QrCode> encode(const QString& text);

    // Modules per side, without the quiet zone.
    int size() const { return m_size; }
    bool dark(int x, int y) const { return m_modules[static_cast<size_t>(y * m_size + x)]; }

    // The pixels per module that fit `side` pixels, quiet zone included; at least 1.
    int moduleFor(int side) const;
    // Paints the code and its quiet zone, centred in `area`, with a whole number of pixels per
    // module and no smoothing; returns the square it filled.
    QRect paint(QPainter& painter, const QRect& area) const;

private:
    int m_size = 0;
    std::vector<bool> m_modules;
};

// The QML item that shows one QR code; empty text draws nothing.
class QrCodeItem : public QQuickPaintedItem {
    Q_OBJECT
    Q_PROPERTY(QString text READ text WRITE setText NOTIFY textChanged)
    Q_PROPERTY(int modules READ modules NOTIFY textChanged)

public:
    explicit QrCodeItem(QQuickItem* parent = nullptr);

    QString text() const { return m_text; }
    void setText(const QString& text);
    // Modules per side of the current code; 0 with none.
    int modules() const { return m_code ? m_code->size() : 0; }

    void paint(QPainter* painter) override;

    static void registerQmlType();

signals:
    void textChanged();

private:
    QString m_text;
    std::optional<QrCode> m_code;
};
