#pragma once

#include <QObject>

#include <functional>
#include <memory>

class QSocketNotifier;
class X11Display;

// Tells when the pointer moves, as the X server reports it (raw motion from the input extension, on
// a connection of our own), so that nobody needs to ask where the pointer is while it rests. Main
// thread. Off X11, or without the extension, it tells nothing and `isWatching` is false.
class PointerMotionWatch : public QObject {
    Q_OBJECT

public:
    explicit PointerMotionWatch(QObject* parent = nullptr);
    ~PointerMotionWatch() override;

    bool isWatching() const { return m_notifier != nullptr; }

    // Once per batch of motion read from the server, however many events it held.
    std::function<void()> onMoved;

private:
    void readEvents();

    std::unique_ptr<X11Display> m_x;
    int m_opcode = 0;
    QSocketNotifier* m_notifier = nullptr;
};
