#pragma once

#include <QObject>
#include <QSize>

#include <functional>
#include <memory>
#include <optional>

class FocusCompanion;
class FocusHistoryPage;
class MacFocusView;
class MotivationAudioStore;
class MotivationSoundsView;
class MacVisionLibrary;
class QQuickView;
class ScreenCaptureAccess;
class TovrickAccount;

// The focus and account window: made on the first show and kept for the whole run; closing it only
// hides it, so its page, typed task and chosen length survive until it is shown again.
class MacFocusPanel : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 640;
    static constexpr int kMinimumWidth = 560;

    struct Sizes {
        QSize initial;
        QSize minimum;
    };
    // For a main screen whose usable height is `visibleHeight` (none without a screen).
    static Sizes sizesFor(std::optional<int> visibleHeight);

    // The shared account and screen access unless given.
    explicit MacFocusPanel(TovrickAccount* account = nullptr, ScreenCaptureAccess* screenAccess = nullptr,
                           QObject* parent = nullptr);
    ~MacFocusPanel() override;

    // Raises the window, making it (centred on the main screen) the first time.
    void show(FocusCompanion& focus, std::function<void()> pair);

    QQuickView* window() const { return m_window.get(); }
    MacFocusView* view() const { return m_view; }
    // The Sounds page's clips: the shared store unless set before the first show.
    MotivationAudioStore* clipStore = nullptr;
    MotivationSoundsView* sounds() const { return m_sounds; }
    FocusHistoryPage* history() const { return m_history; }
    // The reminder images the window manages: the shared library unless set before the first show.
    void setVisionLibrary(MacVisionLibrary& library) { m_vision = &library; }
    MacVisionLibrary& visionLibrary();

    // Makes the window's QML types known (icons, colours, the portrait). Safe to call more than once.
    static void registerQmlTypes();
    // The root view's address in the program's resources.
    static const char* rootSource();

private:
    TovrickAccount& m_account;
    ScreenCaptureAccess& m_screenAccess;
    std::unique_ptr<QQuickView> m_window;
    MacFocusView* m_view = nullptr;
    MotivationSoundsView* m_sounds = nullptr;
    FocusHistoryPage* m_history = nullptr;
    MacVisionLibrary* m_vision = nullptr;
};
