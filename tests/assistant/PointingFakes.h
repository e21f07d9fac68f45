#pragma once

#include <QString>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/assistant/HostPointing.h"

// The host's clock and its delayed work, both moved only by the test.
struct FakeTime {
    double now = 100;
    struct Item {
        double due;
        HostPointing::PendingWork handle;
        std::function<void()> work;
    };
    std::vector<Item> items;

    HostPointing::PendingWork after(double seconds, std::function<void()> work)
    {
        auto handle = std::make_shared<HostPointing::Pending>();
        items.push_back(Item {now + seconds, handle, std::move(work)});
        return handle;
    }
    // Moves the clock on, running the work that falls due on the way, earliest first.
    void advance(double seconds)
    {
        const double until = now + seconds;
        for (;;) {
            auto next = std::min_element(items.begin(), items.end(),
                                         [](const Item& a, const Item& b) { return a.due < b.due; });
            if (next == items.end() || next->due > until + 1e-9)
                break;
            Item item = std::move(*next);
            items.erase(next);
            now = std::max(now, item.due);
            if (!item.handle->cancelled)
                item.work();
        }
        now = until;
    }
};

// A character drawn by nobody: the real view and engine on the test's clock, with no windows shown.
struct PointingWorld {
    FakeTime time;
    std::optional<QPointF> mouse = QPointF(10, 10);
    bool trusted = true;
    bool computerControl = true;
    std::optional<QSizeF> screen = QSizeF(1920, 1080);
    std::optional<FocusSession> session;
    int refreshes = 0;
    int clips = 0;
    CursorView view {CursorEngine::Environment {[this] { return time.now; }, [this] { return mouse.value_or(QPointF()); }}};
    std::shared_ptr<HostPointing> pointing;

    PointingWorld()
    {
        HostPointing::Ports ports;
        ports.now = [this] { return time.now; };
        ports.after = [this](double seconds, std::function<void()> work) { return time.after(seconds, std::move(work)); };
        ports.focusSession = [this] { return session; };
        ports.refreshClips = [this] { ++refreshes; };
        ports.playClip = [this] { ++clips; };
        ports.mouse = [this] { return mouse; };
        ports.accessibilityTrusted = [this] { return trusted; };
        ports.computerControl = [this] { return computerControl; };
        ports.primaryScreen = [this] { return screen; };
        ports.sleep = [this](double seconds, CancelToken) {
            pass(seconds);
            return finished();
        };
        pointing = std::make_shared<HostPointing>(view, std::move(ports));
        view.reminderImage = [] {
            QImage image(8, 8, QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            return image;
        };
    }
    CursorEngine& engine() { return view.engine(); }
    // Time passing while the character's frame step runs at 60 Hz.
    void pass(double seconds)
    {
        const double until = time.now + seconds;
        while (time.now + 1e-9 < until) {
            time.advance(std::min(1.0 / 60.0, until - time.now));
            engine().step();
        }
    }
    static QCoro::Task<> finished() { co_return; }
    bool atHome() { return engine().mode() == engine().homeMode(); }
};

inline MotivationNudgePlan plan(bool image, bool audio)
{
    int asked = 0;
    return MotivationNudgePlan([&] { return ++asked == 1 ? image : audio; });
}
