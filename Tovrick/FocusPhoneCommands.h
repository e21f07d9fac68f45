#pragma once

#include <QString>

#include <functional>

#include "shared/link/Packet.h"

class FocusCompanion;

// The phone's focus commands ("focusStart", "focusPause", …): each drives the focus engine and is
// answered with a "focusReply" packet carrying the engine's sentence and the request's callID.
namespace focusPhoneCommands {

inline const QString kPrefix = QStringLiteral("focus");

bool isFocusCommand(const Packet& request);

// Handles one focus command from a phone. `now` is the engine's clock, for its phone bookkeeping.
void handle(FocusCompanion& focus, const Packet& request, const std::function<void(const Packet&)>& reply,
            double now);

// What the shell does when the last phone goes away.
void phoneDisconnected(FocusCompanion& focus);

} // namespace focusPhoneCommands
