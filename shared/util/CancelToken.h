#pragma once

#include <QCoro/QCoroTask>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// Asks waiting work to wrap up. A task cannot be cancelled from outside, so work that may be called
// off holds a token and looks at it: between steps, and through cancellableSleep() while it waits.
// Copies share one state; a fresh token is never cancelled. Main thread only.
class CancelToken {
public:
    using CallbackId = std::uint64_t;

    CancelToken();

    // Cancels once; the callbacks registered so far run now, in registration order.
    void cancel();
    bool isCancelled() const;

    // Runs `callback` when the token is cancelled; at once (returning 0) when it already is.
    CallbackId onCancel(std::function<void()> callback);
    // Forgets a callback that has not run; unknown ids are ignored.
    void removeCallback(CallbackId id);

private:
    struct State;
    std::shared_ptr<State> m_state;
};

// Waits for `duration`, or less when `token` is cancelled meanwhile: the wait then ends on the next
// turn of the event loop. True when the whole time passed uncancelled. The caller carries on in both
// cases.
QCoro::Task<bool> cancellableSleep(std::chrono::milliseconds duration, CancelToken token);
