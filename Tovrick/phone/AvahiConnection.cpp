#include "Tovrick/phone/AvahiConnection.h"

#include <QSocketNotifier>
#include <QTimer>

#include <avahi-client/client.h>
#include <avahi-common/error.h>
#include <avahi-common/timeval.h>
#include <avahi-common/watch.h>

#include <algorithm>

// Avahi may free a watch or timeout from inside its own callback: the Qt object that is delivering the
// event is then only disabled, and deleted once the callback has returned.
struct AvahiWatch {
    int fd = -1;
    AvahiWatchCallback callback = nullptr;
    void* userdata = nullptr;
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
    int happened = 0;
    bool dispatching = false;
    bool freed = false;
};

struct AvahiTimeout {
    AvahiTimeoutCallback callback = nullptr;
    void* userdata = nullptr;
    QTimer* timer = nullptr;
    bool dispatching = false;
    bool freed = false;
};

namespace {

void destroyNotifier(QSocketNotifier* notifier, bool later)
{
    if (!notifier)
        return;
    notifier->setEnabled(false);
    notifier->disconnect();
    if (later)
        notifier->deleteLater();
    else
        delete notifier;
}

void destroyWatch(AvahiWatch* watch, bool later)
{
    destroyNotifier(watch->read, later);
    destroyNotifier(watch->write, later);
    delete watch;
}

void dispatch(AvahiWatch* watch, int event)
{
    if (watch->freed || !watch->callback)
        return;
    watch->dispatching = true;
    watch->happened = event;
    watch->callback(watch, watch->fd, static_cast<AvahiWatchEvent>(event), watch->userdata);
    watch->happened = 0;
    watch->dispatching = false;
    if (watch->freed)
        destroyWatch(watch, true);
}

void watchUpdate(AvahiWatch* watch, AvahiWatchEvent events)
{
    const int wanted = static_cast<int>(events);
    if (!watch->read) {
        watch->read = new QSocketNotifier(watch->fd, QSocketNotifier::Read);
        QObject::connect(watch->read, &QSocketNotifier::activated, [watch] { dispatch(watch, AVAHI_WATCH_IN); });
        watch->write = new QSocketNotifier(watch->fd, QSocketNotifier::Write);
        QObject::connect(watch->write, &QSocketNotifier::activated, [watch] { dispatch(watch, AVAHI_WATCH_OUT); });
    }
    watch->read->setEnabled((wanted & AVAHI_WATCH_IN) != 0);
    watch->write->setEnabled((wanted & AVAHI_WATCH_OUT) != 0);
}

AvahiWatch* watchNew(const AvahiPoll*, int fd, AvahiWatchEvent events, AvahiWatchCallback callback, void* userdata)
{
    auto* watch = new AvahiWatch;
    watch->fd = fd;
    watch->callback = callback;
    watch->userdata = userdata;
    watchUpdate(watch, events);
    return watch;
}

AvahiWatchEvent watchGetEvents(AvahiWatch* watch)
{
    return static_cast<AvahiWatchEvent>(watch->happened);
}

void watchFree(AvahiWatch* watch)
{
    if (watch->dispatching) {
        watch->freed = true;
        watch->read->setEnabled(false);
        watch->write->setEnabled(false);
        return;
    }
    destroyWatch(watch, false);
}

void timeoutUpdate(AvahiTimeout* timeout, const struct timeval* when)
{
    timeout->timer->stop();
    if (!when)
        return;
    // avahi_age is how long ago `when` was, in microseconds: negative for a time still to come.
    const AvahiUsec ahead = -avahi_age(when);
    timeout->timer->start(static_cast<int>(std::clamp<AvahiUsec>((ahead + 999) / 1000, 0, 24 * 3600 * 1000)));
}

AvahiTimeout* timeoutNew(const AvahiPoll*, const struct timeval* when, AvahiTimeoutCallback callback, void* userdata)
{
    auto* timeout = new AvahiTimeout;
    timeout->callback = callback;
    timeout->userdata = userdata;
    timeout->timer = new QTimer;
    timeout->timer->setSingleShot(true);
    timeout->timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(timeout->timer, &QTimer::timeout, [timeout] {
        if (timeout->freed)
            return;
        timeout->dispatching = true;
        timeout->callback(timeout, timeout->userdata);
        timeout->dispatching = false;
        if (timeout->freed) {
            timeout->timer->disconnect();
            timeout->timer->deleteLater();
            delete timeout;
        }
    });
    timeoutUpdate(timeout, when);
    return timeout;
}

void timeoutFree(AvahiTimeout* timeout)
{
    timeout->timer->stop();
    if (timeout->dispatching) {
        timeout->freed = true;
        return;
    }
    delete timeout->timer;
    delete timeout;
}

} // namespace

std::unique_ptr<AvahiPoll> makeQtAvahiPoll()
{
    auto poll = std::make_unique<AvahiPoll>();
    poll->userdata = nullptr;
    poll->watch_new = watchNew;
    poll->watch_update = watchUpdate;
    poll->watch_get_events = watchGetEvents;
    poll->watch_free = watchFree;
    poll->timeout_new = timeoutNew;
    poll->timeout_update = timeoutUpdate;
    poll->timeout_free = timeoutFree;
    return poll;
}

AvahiConnection::AvahiConnection(QObject* parent)
    : QObject(parent)
    , m_poll(makeQtAvahiPoll())
{
}

AvahiConnection::~AvahiConnection()
{
    // The owner has freed its groups and browsers already (they are its members, destroyed first).
    if (m_client)
        avahi_client_free(m_client);
}

bool AvahiConnection::open()
{
    if (m_client)
        return true;
    int error = 0;
    // The state callback runs inside avahi_client_new already, before m_client is set.
    m_client = avahi_client_new(
        m_poll.get(), AVAHI_CLIENT_NO_FAIL,
        [](AvahiClient* client, AvahiClientState state, void* self) { stateChanged(client, state, self); }, this,
        &error);
    if (!m_client) {
        m_error = QString::fromUtf8(avahi_strerror(error));
        return false;
    }
    return true;
}

void AvahiConnection::stateChanged(AvahiClient* client, int state, void* self)
{
    static_cast<AvahiConnection*>(self)->handleState(client, state);
}

void AvahiConnection::handleState(AvahiClient* client, int state)
{
    switch (state) {
    case AVAHI_CLIENT_S_RUNNING:
        if (m_running == client)
            return;
        m_running = client;
        if (auto callback = onRunning)
            callback(client);
        return;
    case AVAHI_CLIENT_S_COLLISION:
        stopped(QStringLiteral("the daemon is renaming this host"));
        return;
    case AVAHI_CLIENT_S_REGISTERING:
        stopped(QStringLiteral("the daemon is still registering this host"));
        return;
    case AVAHI_CLIENT_CONNECTING:
        stopped(QStringLiteral("no Avahi daemon is running"));
        return;
    case AVAHI_CLIENT_FAILURE:
        m_error = QString::fromUtf8(avahi_strerror(avahi_client_errno(client)));
        stopped(m_error);
        // The client is dead for good; a new one waits for the daemon to come back.
        QTimer::singleShot(1000, this, &AvahiConnection::reconnect);
        return;
    default:
        return;
    }
}

void AvahiConnection::stopped(const QString& why)
{
    m_running = nullptr;
    if (auto callback = onStopped)
        callback(why);
}

void AvahiConnection::reconnect()
{
    if (m_client) {
        avahi_client_free(m_client);
        m_client = nullptr;
    }
    open();
}
