#pragma once

#include <QFont>
#include <QHash>
#include <QObject>
#include <QRect>
#include <QRegion>
#include <QString>

#include <memory>
#include <optional>

#include "shared/focus/FocusSession.h"

class QQuickView;
class StackingWatch;

// The large remaining-time readout near the bottom-right corner of the primary screen while a
// session is open: above other windows, click-through, never focused. The window is made on the
// first open session and kept for later ones.
class FocusCountdown : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString label READ label NOTIFY textsChanged)
    Q_PROPERTY(QString modeLabel READ modeLabel NOTIFY textsChanged)
    Q_PROPERTY(QFont digitsFont READ digitsFont CONSTANT)
    Q_PROPERTY(QFont modeFont READ modeFont CONSTANT)

public:
    static constexpr int kWidth = 420;
    static constexpr int kHeight = 132;
    static constexpr int kRightInset = 452; // from the usable area's right edge to the panel's left
    static constexpr int kBottomInset = 24;
    static inline const QRect kModeRect { 0, 4, kWidth, 20 };
    static inline const QRect kDigitsRect { 0, 24, kWidth, 108 };

    // `createsWindow` false keeps the texts up to date without ever making a window (for checks
    // and tests that run the engine without a display).
    explicit FocusCountdown(bool createsWindow = true, QObject* parent = nullptr);
    ~FocusCountdown() override;

    // Shows the open session's remaining time; hides the panel when there is none or it ended.
    void update(const std::optional<FocusSession>& session);

    QString label() const { return m_label; }
    QString modeLabel() const { return m_modeLabel; }
    QFont digitsFont() const { return m_digitsFont; }
    QFont modeFont() const { return m_modeFont; }
    QQuickView* window() const { return m_window.get(); }
    bool isShown() const;

    // "Ⅱ 02:06" when paused, "02:06" when running.
    static QString labelText(const FocusSession& session);
    // "DEVELOPER MODE · 4×" or empty.
    static QString modeText(const FocusSession& session);
    // The panel in top-left-origin coordinates for a screen's usable area: 32 points in from its
    // right edge and 24 up from its bottom.
    static QRect panelGeometry(const QRect& usableArea);
    // `font` when its digits share one width, else the fixed-pitch font at its size and weight:
    // right-aligned, digits of differing widths would shift the clock every second.
    static QFont evenDigitsFont(const QFont& font);
    // The window shape for the current texts: the drawn glyphs grown by a couple of pixels, so that
    // without a compositor only the digits (with a thin dark edge) cover what is underneath.
    QRegion shape();

signals:
    void textsChanged();

private:
    void createWindow();
    // `text` drawn in `rect` of the panel, vertically centred, as the shape it needs.
    static QRegion drawnShape(const QString& text, const QFont& font, const QRect& rect, Qt::Alignment horizontal);

    bool m_createsWindow;
    std::unique_ptr<QQuickView> m_window;
    std::unique_ptr<StackingWatch> m_stacking; // while shown
    QString m_label;
    QString m_modeLabel;
    QFont m_digitsFont;
    QFont m_modeFont;
    // Drawing and growing 76-pixel text each second was most of a still session's cost: each
    // character is drawn once and its shape moved into place.
    QHash<QChar, QRegion> m_characterShapes;
    QString m_shapedMode;
    QRegion m_modeShape;
};
