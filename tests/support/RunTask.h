#pragma once

#include <QCoro/QCoroTask>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <optional>
#include <type_traits>

// Runs a coroutine to completion on the calling (main) thread's event loop and returns its value,
// rethrowing what it threw. A task that never finishes is a hung test: abort with a clear line rather
// than leave a coroutine frame pointing at this stack.
template <typename T>
T runTask(QCoro::Task<T>&& task, std::chrono::milliseconds timeout = std::chrono::seconds(20))
{
    QEventLoop loop;
    bool done = false;
    std::exception_ptr error;
    std::conditional_t<std::is_void_v<T>, bool, std::optional<T>> result {};

    auto wrapper = [](QCoro::Task<T> inner, auto* out, std::exception_ptr* err, bool* finished,
                      QEventLoop* l) -> QCoro::Task<> {
        try {
            if constexpr (std::is_void_v<T>) {
                co_await std::move(inner);
            } else {
                out->emplace(co_await std::move(inner));
            }
        } catch (...) {
            *err = std::current_exception();
        }
        *finished = true;
        l->quit();
    };
    auto running = wrapper(std::move(task), &result, &error, &done, &loop);

    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        std::fprintf(stderr, "runTask: the task did not finish within %lld ms\n",
                     static_cast<long long>(timeout.count()));
        std::abort();
    });
    if (!done) {
        timer.start(timeout);
        loop.exec();
    }
    if (error)
        std::rethrow_exception(error);
    if constexpr (!std::is_void_v<T>)
        return std::move(*result);
}

// Spins the event loop until the predicate holds or the time runs out; returns whether it held.
template <typename Predicate>
bool waitUntil(Predicate&& predicate, std::chrono::milliseconds timeout = std::chrono::seconds(10))
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (predicate())
            loop.quit();
    });
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (predicate())
        return true;
    poll.start(5);
    limit.start(timeout);
    loop.exec();
    return predicate();
}

// Lets the event loop run for `duration`, asleep between events (for what has no signal to wait
// on, such as a window's next frames).
inline void settleFor(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}
