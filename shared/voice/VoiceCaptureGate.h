#pragma once

#include <QUuid>

#include <mutex>
#include <optional>

// The id of the voice turn being captured, shared between the capture thread and its owner so that
// audio of an earlier turn can be refused. Every operation is safe from any thread.
class VoiceCaptureGate {
public:
    VoiceCaptureGate() = default;
    VoiceCaptureGate(const VoiceCaptureGate&) = delete;
    VoiceCaptureGate& operator=(const VoiceCaptureGate&) = delete;

    bool isHeld() const;
    // Starts a new turn, replacing any earlier one, and returns its fresh id.
    QUuid begin();
    void end();
    // True only for the id of the turn held now.
    bool accepts(const QUuid& id) const;

private:
    mutable std::mutex m_lock;
    std::optional<QUuid> m_turn;
};
