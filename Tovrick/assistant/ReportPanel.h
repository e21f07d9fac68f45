#pragma once

#include <QObject>
#include <QRect>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include "Tovrick/assistant/ReportModel.h"

class QQuickView;
class QVariantAnimation;

// The research report card: one floating window near the top-right corner of the main screen that
// shows a research run from question to answer. Made on the first show and kept for the whole run;
// it never takes the keyboard focus, stays above other windows on every workspace and moves by
// dragging. Main thread only.
class ReportPanel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString headingFamily READ headingFamily CONSTANT)
    Q_PROPERTY(QString bodyFamily READ bodyFamily CONSTANT)
    Q_PROPERTY(QString monoFamily READ monoFamily CONSTANT)

public:
    static constexpr int kInset = 24;
    static constexpr int kCollapsedWidth = 400;
    static constexpr int kExpandedWidth = 520;
    static constexpr int kShortHeight = 140;
    static constexpr int kCollapsedHeight = 190;
    static constexpr int kCharactersPerLine = 58;

    explicit ReportPanel(QObject* parent = nullptr);
    ~ReportPanel() override;

    ReportModel& model() { return m_model; }
    QQuickView* window() const { return m_window.get(); }
    bool isShown() const;

    void showLoading(const QString& question);
    void show(const ResearchReport& report);
    void showError(const QString& message);
    // Opens or closes the full report, animated.
    Q_INVOKABLE void toggle();
    // Hides the card; the next show brings it back as it was.
    Q_INVOKABLE void close();
    // A click on the card: opens a collapsed report, nothing else.
    Q_INVOKABLE void tapped();
    // Opens a web source in the browser; other addresses never open.
    Q_INVOKABLE void openSource(int index);
    // Renders the card in the wanted state into a PNG at `path`; failures are silent.
    void snapshotPNG(bool expanded, const QString& path);

    // The card's size for a model state; the estimate of an open report stops at three quarters
    // of the usable height.
    static QSize panelSize(bool expanded, const std::optional<ResearchReport>& report, int usableHeight);
    // Top-left-origin frame of that size 24 points in from the usable area's top-right corner.
    static QRect panelFrame(const QSize& size, const QRect& area);
    // The usable area of the main screen; none without a screen.
    static std::optional<QRect> mainUsableArea();

    // Where the card goes; tests replace it.
    std::function<std::optional<QRect>()> usableArea = &ReportPanel::mainUsableArea;

    QString headingFamily() const;
    QString bodyFamily() const;
    QString monoFamily() const;

private:
    void present();
    void createWindow();
    void layout(bool animated);
    void place(const QRect& frame);

    ReportModel m_model;
    std::unique_ptr<QQuickView> m_window;
    QVariantAnimation* m_animation = nullptr;
};
