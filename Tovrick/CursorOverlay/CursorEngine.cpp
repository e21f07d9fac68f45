#include "Tovrick/CursorOverlay/CursorEngine.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"

#include <QLineF>

#include <algorithm>
#include <cmath>
#include <limits>

using namespace cursorChoices;

namespace {

double smoothstep(double t)
{
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

} // namespace

QPointF Flight::at(double now) const
{
    if (duration <= 0 || now >= start + duration)
        return to;
    const double t = smoothstep((now - start) / duration);
    const double u = 1 - t;
    return u * u * from + 2 * u * t * bend + t * t * to;
}

CursorEngine::CursorEngine(Environment environment) : m_env(std::move(environment))
{
    m_now = m_env.now();
    m_mouse = m_env.mouse();
    m_tip = m_mouse + followOffset;
}

void CursorEngine::changed()
{
    if (onChanged)
        onChanged();
}

void CursorEngine::setMode(const CursorMode& mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    m_launchPending = mode.kind != CursorMode::Kind::following;
    if (mode.kind == CursorMode::Kind::following)
        m_flight.reset();
    changed();
}

void CursorEngine::setTip(QPointF tip)
{
    m_tip = tip;
    changed();
}

void CursorEngine::setBrainMood(std::optional<Mood> mood)
{
    if (mood == m_brainMood)
        return;
    m_brainMood = mood;
    changed();
}

void CursorEngine::setGazeOverride(std::optional<QPointF> point)
{
    if (point == m_gazeOverride)
        return;
    m_gazeOverride = point;
    changed();
}

void CursorEngine::setDragging(bool on)
{
    if (on == m_dragging)
        return;
    m_dragging = on;
    changed();
}

void CursorEngine::setSpeaking(bool on)
{
    if (on == m_speaking)
        return;
    m_speaking = on;
    changed();
}

void CursorEngine::setUsableArea(const QRectF& area)
{
    if (area == m_usableArea)
        return;
    m_usableArea = area;
    changed();
}

void CursorEngine::setFollowsMouse(bool on)
{
    if (on == m_followsMouse)
        return;
    const bool atHome = m_mode == homeMode();
    m_followsMouse = on;
    if (atHome)
        setMode(homeMode());
}

void CursorEngine::setAwake(bool awake)
{
    if (awake == m_awake)
        return;
    m_awake = awake;
    if (onAwakeChange)
        onAwakeChange(awake);
    changed();
}

void CursorEngine::press()
{
    m_pressStart = m_env.now();
    changed();
}

QPointF CursorEngine::dockSpot() const
{
    return m_usableArea.bottomRight() - dockInset;
}

void CursorEngine::launch(QPointF to)
{
    const QLineF line(m_tip, to);
    const double distance = line.length();
    Flight flight;
    flight.from = m_tip;
    flight.to = to;
    flight.start = m_now;
    flight.duration = std::clamp(distance / flightSpeed, minFlight, maxFlight);
    // Bowed to the left of the direction of travel, which arcs upwards on a horizontal flight.
    const QPointF middle = (m_tip + to) / 2;
    const double bow = std::min(distance * arcBow, arcBowMax);
    const QPointF normal = distance > 0 ? QPointF(line.dy(), -line.dx()) / distance : QPointF();
    flight.bend = middle + normal * bow;
    m_flight = flight;
}

double CursorEngine::pressCurve(double now) const
{
    const double t = now - m_pressStart;
    if (t < 0 || t >= pressLength)
        return 0;
    if (t < pressRise)
        return t / pressRise;
    return 1 - smoothstep((t - pressRise) / (pressLength - pressRise));
}

void CursorEngine::step()
{
    m_now = m_env.now();
    const double longest = m_rested ? frameMilliseconds / 1000.0 : 0.1;
    const double dt = m_lastStep < 0 ? 0 : std::clamp(m_now - m_lastStep, 0.0, longest);
    m_lastStep = m_now;
    m_mouse = m_env.mouse();

    if (m_launchPending) {
        m_launchPending = false;
        launch(m_mode.kind == CursorMode::Kind::pinned ? m_mode.point : dockSpot());
    }
    if (m_flight) {
        m_tip = m_flight->at(m_now);
        if (m_now >= m_flight->start + m_flight->duration)
            m_flight.reset();
    } else if (m_mode.kind == CursorMode::Kind::following) {
        const QPointF target = m_mouse + followOffset;
        const QPointF gap = target - m_tip;
        if (std::hypot(gap.x(), gap.y()) <= settleDistance)
            m_tip = target;
        else
            m_tip += gap * (1 - std::exp(-followRate * dt));
    } else if (m_mode.kind == CursorMode::Kind::docked && m_tip != dockSpot()) {
        launch(dockSpot()); // the usable area changed under a docked character
    }

    m_pressDepth = std::max(pressCurve(m_now), m_dragging ? dragDepth : 0.0);

    const QPointF look = m_gazeOverride.value_or(m_mouse);
    const QPointF eyes = m_tip - tipInBox + QPointF(boxSize.width(), boxSize.height()) - QPointF(figureSide / 2, figureSide * 0.45);
    m_face.gazeX = std::clamp((look.x() - eyes.x()) / gazeReach, -1.0, 1.0);
    m_face.gazeY = std::clamp((look.y() - eyes.y()) / gazeReach, -1.0, 1.0);
    m_face.mood = mood();
    m_face.talk = m_speaking && m_awake ? 0.45 + 0.4 * std::sin(m_now * 13.0) * std::sin(m_now * 4.1) : 0.0;
    m_rested = atRest();
}

bool CursorEngine::atRest() const
{
    if (m_launchPending || m_flight || (m_speaking && m_awake) || m_now - m_pressStart < pressLength)
        return false;
    switch (m_mode.kind) {
    case CursorMode::Kind::following:
        return m_tip == m_mouse + followOffset;
    case CursorMode::Kind::docked:
        return m_tip == dockSpot();
    case CursorMode::Kind::pinned:
        return true;
    }
    return true;
}

double CursorEngine::nextChange() const
{
    if (!m_awake)
        return std::numeric_limits<double>::infinity();
    const double phase = std::fmod(m_now, blinkEvery);
    return m_now - phase + (phase < blinkLength ? blinkLength : blinkEvery);
}

Mood CursorEngine::mood() const
{
    if (!m_awake)
        return Mood::sleepy;
    if (m_brainMood)
        return *m_brainMood;
    if (m_flight || m_mode.kind == CursorMode::Kind::pinned)
        return Mood::pointing;
    if (m_speaking)
        return Mood::talking;
    return Mood::resting;
}

ButlerPose CursorEngine::pose() const
{
    ButlerPose pose;
    // Quantised to steps of about a third of a pixel for the eyes and one for the mouth, so that a
    // still scene gives an equal pose and is not drawn again, and a moving one rarely.
    const auto quantise = [](double value, double steps) { return std::round(value * steps) / steps; };
    pose.gazeX = quantise(m_face.gazeX, 8);
    pose.gazeY = quantise(m_face.gazeY, 8);
    pose.mood = m_face.mood;
    pose.talk = quantise(m_face.talk, 6);
    pose.press = quantise(m_pressDepth, 12);
    pose.asleep = !m_awake;
    const double phase = std::fmod(m_now, blinkEvery);
    pose.blink = m_awake && phase < blinkLength ? 1.0 : 0.0;
    return pose;
}
