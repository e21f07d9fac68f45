#include "shared/util/CancelToken.h"

#include <QCoro/QCoroTimer>
#include <QTimer>

#include <utility>
#include <vector>

struct CancelToken::State {
    bool cancelled = false;
    CallbackId lastId = 0;
    std::vector<std::pair<CallbackId, std::function<void()>>> callbacks;
};

CancelToken::CancelToken() : m_state(std::make_shared<State>()) {}

void CancelToken::cancel()
{
    if (m_state->cancelled)
        return;
    m_state->cancelled = true;
    // A callback may register or remove others: run the ones taken out first.
    auto callbacks = std::exchange(m_state->callbacks, {});
    for (auto& [id, callback] : callbacks)
        callback();
}

bool CancelToken::isCancelled() const
{
    return m_state->cancelled;
}

CancelToken::CallbackId CancelToken::onCancel(std::function<void()> callback)
{
    if (m_state->cancelled) {
        callback();
        return 0;
    }
    const CallbackId id = ++m_state->lastId;
    m_state->callbacks.emplace_back(id, std::move(callback));
    return id;
}

void CancelToken::removeCallback(CallbackId id)
{
    std::erase_if(m_state->callbacks, [id](const auto& entry) { return entry.first == id; });
}

QCoro::Task<bool> cancellableSleep(std::chrono::milliseconds duration, CancelToken token)
{
    if (token.isCancelled())
        co_return false;
    QTimer timer;
    timer.setSingleShot(true);
    QTimer* const raw = &timer;
    // Restarting with no delay wakes the sleeper from the event loop, never inside cancel() itself.
    const CancelToken::CallbackId id = token.onCancel([raw] { raw->start(0); });
    timer.start(duration.count() > 0 ? duration : std::chrono::milliseconds(0));
    co_await timer;
    token.removeCallback(id);
    co_return !token.isCancelled();
}
