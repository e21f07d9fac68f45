#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <vector>

// One event the bus delivered about this process's windows.
struct BusEvent {
    QString type;   // "object:state-changed:checked", "object:property-change:accessible-name", ...
    QString source; // the name of the node it is about, as the event arrived
    int detail = 0; // for a state change, 1 when the state was set
};

// Listens, from its making to its end, for the bus's events of the given types that come from this
// process. Events wait on the bus until a wait of this log delivers them.
class BusEventLog {
public:
    explicit BusEventLog(const QStringList& types);
    ~BusEventLog();
    BusEventLog(const BusEventLog&) = delete;
    BusEventLog& operator=(const BusEventLog&) = delete;

    // Delivers events until `done` holds of all that arrived; whether it did in time.
    bool waitFor(const std::function<bool(const std::vector<BusEvent>&)>& done,
                 std::chrono::milliseconds timeout = std::chrono::seconds(20));
    // Everything before it has arrived: a name this process sends only now, after whatever it sent
    // before, is seen to arrive (the bus keeps one sender's order). Events that came before it are
    // kept, the mark's own are not. False when it did not come.
    bool catchUp();
    std::vector<BusEvent> events() const { return m_events; }
    void clear() { m_events.clear(); }

private:
    struct Listener;
    std::vector<BusEvent> m_events;
    Listener* m_listener = nullptr;
    QStringList m_types;
    int m_marks = 0;
};
