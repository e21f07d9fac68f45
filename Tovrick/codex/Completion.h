#pragma once

#include <QCoreApplication>
#include <QMetaObject>

#include <coroutine>
#include <exception>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

// A one-shot outcome that any number of coroutines can await, before or after it is settled; every
// waiter sees the same value or the same failure. Waiters are resumed from the event loop, never from
// inside the code that settles it, so a reader or an exit handler is not re-entered by the code that
// was waiting on it.
template <typename T>
class Completion {
    struct State {
        std::optional<T> value;
        std::exception_ptr error;
        bool settled = false;
        std::vector<std::coroutine_handle<>> waiters;
    };

public:
    Completion() : m_state(std::make_shared<State>()) {}

    bool isSettled() const { return m_state->settled; }

    void resolve(T value)
    {
        if (m_state->settled)
            return;
        m_state->value = std::move(value);
        settle();
    }

    void fail(std::exception_ptr error)
    {
        if (m_state->settled)
            return;
        m_state->error = std::move(error);
        settle();
    }

    template <typename Error>
    void fail(const Error& error)
    {
        fail(std::make_exception_ptr(error));
    }

    class Awaiter {
    public:
        explicit Awaiter(std::shared_ptr<State> state) : m_state(std::move(state)) {}
        bool await_ready() const noexcept { return m_state->settled; }
        void await_suspend(std::coroutine_handle<> waiter) { m_state->waiters.push_back(waiter); }
        T await_resume() const
        {
            if (m_state->error)
                std::rethrow_exception(m_state->error);
            return *m_state->value;
        }

    private:
        std::shared_ptr<State> m_state;
    };

    Awaiter operator co_await() const { return Awaiter(m_state); }

private:
    void settle()
    {
        m_state->settled = true;
        auto waiters = std::exchange(m_state->waiters, {});
        for (auto waiter : waiters)
            QMetaObject::invokeMethod(QCoreApplication::instance(), [waiter] { waiter.resume(); },
                                      Qt::QueuedConnection);
    }

    std::shared_ptr<State> m_state;
};
