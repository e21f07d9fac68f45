#pragma once

#include <QTemporaryDir>

#include <coroutine>
#include <deque>
#include <stdexcept>

#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/SessionSignals.h"

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
        auto gate = std::make_shared<Gate>();
        m_pending.push_back(gate);
        // A named, non-owning awaiter: g++ 12 mishandles owning temporaries inside co_await.
        Awaiter awaiter { gate.get() };
        co_return co_await awaiter;
    }

    std::size_t waiting() const { return m_pending.size(); }
    void resolve(T value) { settle([value] { return value; }); }
    void fail(std::exception_ptr error) { settle([error]() -> T { std::rethrow_exception(error); }); }
    // Lets every waiting call end (with an error) so no coroutine outlives the test.
    void failAll()
    {
        while (!m_pending.empty())
            fail(std::make_exception_ptr(std::runtime_error("test ended")));
    }

private:
    struct Gate { std::function<T()> result; std::coroutine_handle<> waiter; };
    struct Awaiter {
        Gate* gate;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle) noexcept { gate->waiter = handle; }
        T await_resume() { return gate->result(); }
    };
    void settle(std::function<T()> result)
    {
        if (m_pending.empty())
            throw std::logic_error("nothing is waiting");
        auto gate = m_pending.front();
        m_pending.pop_front();
        gate->result = std::move(result);
        gate->waiter.resume();
    }

    std::deque<std::shared_ptr<Gate>> m_pending;
};

inline FocusDecision decision(FocusActivity activity, double offTask, double confidence = 0.9)
{
    const double rest = (1 - offTask) / 2;
    return FocusDecision { activity, offTask, confidence,
                           { { QStringLiteral("on_task"), rest }, { QStringLiteral("off_task"), offTask },
                             { QStringLiteral("uncertain"), rest } } };
}

inline TextLine line(const QString& id, const QString& text, QRectF rect)
{
    return TextLine { Target { id, text, rect }, {} };
}

// The world the engine sees: a clock the test moves, switches for each precondition, and scripted
// screen, judge and nudge seams. Outlives the engine.
class FocusWorld {
public:
    double clock = 1000;
    bool permission = true, signedIn = true, unlocked = true;
    std::optional<FrontmostApp> front = FrontmostApp { QStringLiteral("Editor"), 100 };
    ScreenSnapshot screen;
    Script<ScreenSnapshot> captures;
    Script<FocusDecision> judgements;
    Script<FocusAPI::Nudge> nudges;
    SessionSignals sessionSignals;
    QTemporaryDir folder;

    FocusWorld()
    {
        screen.size = QSizeF(1000, 800);
        screen.jpeg = QByteArray("jpeg");
        screen.lines = { line(QStringLiteral("L1"), QStringLiteral("Quarterly report"), QRectF(10, 10, 200, 20)),
                         line(QStringLiteral("L2"), QStringLiteral("Funny cat videos"), QRectF(100, 300, 300, 20)) };
        captures.answer = [this] { return screen; };
        judgements.answer = [] { return decision(FocusActivity::onTask, 0.1); };
        nudges.answer = [] { return FocusAPI::Nudge { QStringLiteral("Back to the report?"), std::nullopt }; };
    }
    ~FocusWorld()
    {
        captures.failAll();
        judgements.failAll();
        nudges.failAll();
    }

    QString historyFolder() const { return folder.filePath(QStringLiteral("Tovrick")); }
    QString signedOutFile() const { return historyFolder() + QStringLiteral("/focus-history-signed-out.json"); }

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
        made.idleSeconds = [] { return 4.0; };
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
