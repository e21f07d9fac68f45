#pragma once

#include <QString>
#include <QStringList>

#include <vector>

// Presses the control called `name` in this process's own windows as an assistive technology does:
// over the accessibility bus, with the Action interface's "Press". Answers what the bus answered;
// false when no shown control of that name offered the action in time.
bool pressOverBus(const QString& name);
// The same with any action the control offers ("Toggle", "Press").
bool actOverBus(const QString& name, const QString& action);

// One shown node of this process's tree as the bus tells it.
struct BusNode {
    QString role; // the bus's role name: "label", "push button", "alert", ...
    QString name;
    bool enabled = false;
    bool expandable = false;
    bool expanded = false;
    bool checked = false;
};
// Every node of this process's windows that the bus says is showing, read afresh.
std::vector<BusNode> shownOverBus();
// The first shown node called `name` (waiting a moment for the tree to follow the windows), or
// none: an empty role.
BusNode shownNodeOverBus(const QString& name);
