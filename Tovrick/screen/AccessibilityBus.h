#pragma once

#include <chrono>
#include <functional>

// GLib's main context, without GLib's header.
typedef struct _GMainContext GMainContext;

// Runs `job` on the calling thread while the thread that iterates GLib's default main context (Qt's
// main thread) dispatches nothing: it waits, parked in a dispatch of its own, until `job` is done.
// When it does not come within `patience` it is held up elsewhere, reading nothing, and `job` runs
// anyway. Called on that thread itself, `job` runs at once.
void whileMainContextRests(const std::function<void()>& job, std::chrono::milliseconds patience);

// Starts libatspi with its bus connection dispatched on `context`, which only the calling thread
// iterates from then on. Whether there is a bus.
bool startAccessibilityBus(GMainContext* context);
