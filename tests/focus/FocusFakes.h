#pragma once

#include <QCoro/QCoroTask>
#include <QTemporaryDir>

#include <coroutine>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>

#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/SessionSignals.h"

// A value that a test hands over later; the coroutine awaiting it resumes inside the handing over.
template <typename T>
struct Gate {
    std::optional<T> value;
    std::exception_ptr error;
    std::coroutine_handle<> waiter;

    bool settled() const { return value.has_value() || error != nullptr; }
    void wake()
    {
        if (auto handle = std::exchange(waiter, nullptr))
            handle.resume();
    }
};

// Holds a plain pointer: the awaiting frame keeps the gate alive, and g++ 12 mishandles owning
// temporaries inside co_await expressions.
template <typename T>
struct GateAwaiter {
    Gate<T>* gate;
    bool await_ready() const noexcept { return gate->settled(); }
    void await_suspend(std::coroutine_handle<> handle) noexcept { gate->waiter = handle; }
    T await_resume()
    {
        if (gate->error)
            std::rethrow_exception(gate->error);
        return std::move(*gate->value);
    }
};

// One of the engine's asynchronous seams. Answers at once from `answer`, or, while `hold` is set,
// keeps each call waiting until the test resolves or fails it (oldest first).
template <typename T>
class Script {
public:
    bool hold = false;
    std::function<T()> answer;
    int calls = 0;

    QCoro::Task<T> next()
    {
        ++calls;
        if (!hold)
            co_return answer();
        auto gate = std::make_shared<Gate<T>>();
        m_pending.push_back(gate);
        GateAwaiter<T> awaiter { gate.get() };
        co_return co_await awaiter;
    }

    std::size_t waiting() const { return m_pending.size(); }
    void resolve(T value)
    {
        auto gate = take();
        gate->value = std::move(value);
        gate->wake();
    }
    void fail(std::exception_ptr error)
    {
        auto gate = take();
        gate->error = std::move(error);
        gate->wake();
    }
    // Lets every waiting call end (with an error) so no coroutine outlives the test.
    void failAll()
    {
        while (!m_pending.empty())
            fail(std::make_exception_ptr(std::runtime_error("test ended")));
    }

private:
    std::shared_ptr<Gate<T>> take()
    {
        if (m_pending.empty())
            throw std::logic_error("nothing is waiting");
        auto gate = m_pending.front();
        m_pending.pop_front();
        return gate;
    }

    std::deque<std::shared_ptr<Gate<T>>> m_pending;
};

inline FocusDecision decision(FocusActivity activity, double offTask, double confidence = 0.9)
{
    FocusDecision made;
    made.activity = activity;
    made.probability = offTask;
    made.confidence = confidence;
    const double rest = (1 - offTask) / 2;
    made.probabilities = { { QStringLiteral("on_task"), rest }, { QStringLiteral("off_task"), offTask },
                           { QStringLiteral("uncertain"), rest } };
    return made;
}

inline TextLine line(const QString& id, const QString& text, QRectF rect)
{
    TextLine made;
    made.id = id;
    made.text = text;
    made.rect = rect;
    return made;
}

// The world the engine sees: a clock the test moves, switches for each precondition, and scripted
// screen, judge and nudge seams. Outlives the engine.
class FocusWorld {
public:
    double clock = 1000;
    bool permission = true;
    bool signedIn = true;
    bool unlocked = true;
    double idle = 4;
    std::optional<FrontmostApp> front = FrontmostApp { QStringLiteral("Editor"), 100 };
    ScreenSnapshot screen;
    Script<ScreenSnapshot> captures;
    Script<FocusDecision> judgements;
    Script<FocusAPI::Nudge> nudges;
    SessionSignals sessionSignals;
    QTemporaryDir folder;
    int classifyCalls() const { return judgements.calls; }

    FocusWorld()
    {
        screen.size = QSizeF(1000, 800);
        screen.jpeg = QByteArray("jpeg");
        screen.lines = { line(QStringLiteral("L1"), QStringLiteral("Quarterly report"), QRectF(10, 10, 200, 20)),
                         line(QStringLiteral("L2"), QStringLiteral("Funny cat videos"), QRectF(100, 300, 300, 20)) };
        captures.answer = [this] { return screen; };
        judgements.answer = [] { return decision(FocusActivity::onTask, 0.1); };
        nudges.answer = [] {
            return FocusAPI::Nudge { QStringLiteral("Back to the report?"), std::nullopt };
        };
    }
    ~FocusWorld()
    {
        captures.failAll();
        judgements.failAll();
        nudges.failAll();
    }
    FocusWorld(const FocusWorld&) = delete;
    FocusWorld& operator=(const FocusWorld&) = delete;

    QString historyFolder() const { return folder.filePath(QStringLiteral("Tovrick")); }

    FocusEnvironment environment()
    {
        FocusEnvironment made;
        made.now = [this] { return clock; };
        made.permission = [this] { return permission; };
        made.hasAccount = [this] { return signedIn; };
        made.capture = [this] { return captures.next(); };
        made.classify = [this](ScreenSnapshot, FocusSession, double) { return judgements.next(); };
        made.prepareNudge = [this](ScreenSnapshot, QString) { return nudges.next(); };
        made.screenUnlocked = [this] { return unlocked; };
        made.idleSeconds = [this] { return idle; };
        made.frontmostApp = [this] { return front; };
        made.sessionSignals = &sessionSignals;
        made.historyFolder = historyFolder();
        made.showsCountdown = false;
        return made;
    }

    std::unique_ptr<FocusCompanion> engine() { return std::make_unique<FocusCompanion>(environment()); }

    // Moves the clock one second at a time, ticking after each.
    void run(FocusCompanion& engine, int seconds)
    {
        for (int i = 0; i < seconds; ++i) {
            clock += 1;
            engine.tick();
        }
    }
};
