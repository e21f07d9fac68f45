#include "shared/voice/VoiceCaptureGate.h"

bool VoiceCaptureGate::isHeld() const
{
    const std::lock_guard guard(m_lock);
    return m_turn.has_value();
}

QUuid VoiceCaptureGate::begin()
{
    const QUuid id = QUuid::createUuid();
    const std::lock_guard guard(m_lock);
    m_turn = id;
    return id;
}

void VoiceCaptureGate::end()
{
    const std::lock_guard guard(m_lock);
    m_turn.reset();
}

bool VoiceCaptureGate::accepts(const QUuid& id) const
{
    const std::lock_guard guard(m_lock);
    return m_turn.has_value() && *m_turn == id;
}
