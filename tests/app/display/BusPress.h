#pragma once

#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

// Runs `job` on the thread that talks to the bus, the caller's event loop turning meanwhile (each
// bus call is a round trip to this process's main thread). libatspi is for one thread only.
void onBusThread(const std::function<void()>& job);
// On the bus thread: delivers the bus's events until `done` holds or `timeout` has passed; whether
// it held.
bool turnBusUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);

// Presses the control called `name` in this process's own windows as an assistive technology does:
// over the accessibility bus, with the Action interface's "Press". Answers what the bus answered;
// false when no shown control of that name offered the action in time.
bool pressOverBus(const QString& name);
// The same with any action the control offers ("Toggle", "Press").
bool actOverBus(const QString& name, const QString& action);
// The same on every shown control of that name that offers the action; how many answered yes.
int actOnEachOverBus(const QString& name, const QString& action);

// One shown node of this process's tree as the bus tells it.
struct BusNode {
    QString role; // the bus's role name: "label", "push button", "alert", ...
    QString name;
    bool enabled = false;
    bool expandable = false;
    bool expanded = false;
    bool checked = false;
    QString description;
};
// Every node of this process's windows that the bus says is showing, read afresh.
std::vector<BusNode> shownOverBus();
// The first shown node called `name` (waiting a moment for the tree to follow the windows), or
// none: an empty role.
BusNode shownNodeOverBus(const QString& name);

// A node of this process's windows, showing or not, that says it has the keyboard's focus.
struct BusFocusHolder {
    BusNode node;
    bool showing = false;
    bool focusable = false;
    QRect place; // on screen, as its Component interface tells; empty where it has none
};
// Every such node, read afresh: one control, and the panels around it, when all is well.
std::vector<BusFocusHolder> focusHoldersOverBus();

// The Value interface of the first shown node called `name` with that role ("scroll bar"), as the
// bus tells it; none when there is no such node.
struct BusValue {
    double current = 0;
    double minimum = 0;
    double maximum = 0;
};
std::optional<BusValue> valueOverBus(const QString& name, const QString& role);
// Sets it through the bus; answers what the bus answered.
bool setValueOverBus(const QString& name, const QString& role, double value);


// Where the first shown node called `name` with that role lies, in screen coordinates, as the
// bus's Component interface tells it; none when there is no such node.
std::optional<QRect> extentsOverBus(const QString& name, const QString& role);
// The name of the deepest node at the screen point `at` that the bus finds under the node called
// `name` with that role (a window's frame), as a screen reader's mouse review asks; none: empty.
QString nameAtPointOverBus(const QString& name, const QString& role, QPoint at);
