#pragma once

#include <QObject>
#include <QTimer>

#include <functional>
#include <memory>

class QSocketNotifier;
class X11Display;

// Tells when another top-level window has been mapped or restacked, so that windows which bypass
// the window manager can put themselves back on top at once: nobody else keeps them there. Nothing
// is told off X11. Main thread.
class StackingWatch : public QObject {
    Q_OBJECT

public:
    // `own`: whether a window id is one of ours (their own restacking is not news).
    explicit StackingWatch(std::function<bool(quint64)> own, QObject* parent = nullptr);
    ~StackingWatch() override;

    // Called at most once per `kCoalesceMs`, however many windows moved meanwhile.
    std::function<void()> onRestacked;

    static constexpr int kCoalesceMs = 50;

private:
    void readEvents();

    std::function<bool(quint64)> m_own;
    std::unique_ptr<X11Display> m_x;
    QSocketNotifier* m_notifier = nullptr;
    QTimer m_coalesce;
};
