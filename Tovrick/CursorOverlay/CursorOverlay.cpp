#include "Tovrick/CursorOverlay/CursorOverlay.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/screen/PointerMotionWatch.h"
#include "Tovrick/screen/X11Display.h"
#include "shared/util/Settings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>

#include <time.h>

double CursorOverlay::mediaClock()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

QPointF CursorOverlay::pointerPosition()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QPoint origin = screen ? screen->geometry().topLeft() : QPoint();
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return QCursor::pos() - origin;
    // Asked on a connection of our own: a reply on Qt's would wake its event thread every frame.
    static X11Display display;
    const std::optional<QPoint> pixels = display.pointer();
    if (!pixels)
        return QCursor::pos() - origin;
    const double ratio = screen ? screen->devicePixelRatio() : 1.0;
    return QPointF(*pixels) / ratio - QPointF(origin);
}

CursorOverlay::CursorOverlay(QObject* parent)
    : CursorOverlay(CursorEngine::Environment { &CursorOverlay::mediaClock, &CursorOverlay::pointerPosition }, parent)
{
}

CursorOverlay::CursorOverlay(CursorEngine::Environment environment, QObject* parent)
    : QObject(parent), m_mouse(environment.mouse), m_view(std::make_unique<CursorView>(std::move(environment)))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(cursorChoices::frameMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &CursorOverlay::step);
    // Precise: a blink is shorter than a coarse timer's slack.
    m_due.setTimerType(Qt::PreciseTimer);
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &CursorOverlay::step);
    m_poll.setInterval(cursorChoices::pointerPollMilliseconds);
    connect(&m_poll, &QTimer::timeout, this, &CursorOverlay::pollPointer);

    CursorEngine& engine = m_view->engine();
    Settings& settings = Settings::shared();
    engine.setFollowsMouse(settings.followMouse());
    engine.setMode(engine.homeMode());
    connect(&settings, &Settings::changed, this, [this](const QString& key) {
        if (key == QLatin1String("followMouse"))
            m_view->engine().setFollowsMouse(Settings::shared().followMouse());
    });
    engine.onAwakeChange = [this](bool awake) {
        if (onAwakeChange)
            onAwakeChange(awake);
    };
    m_view->onChanged = [this] { wake(); };
    m_motion = std::make_unique<PointerMotionWatch>();
    m_motion->onMoved = [this] { wake(); };
    // Nobody else keeps the windows above the rest: they go back on top as soon as another window is
    // mapped or raised over them.
    m_stacking = std::make_unique<StackingWatch>([this](quint64 id) { return ownsWindow(id); });
    m_stacking->onRestacked = [this] { m_view->raiseWindows(); };
    followScreen();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        connect(screen, &QScreen::geometryChanged, this, &CursorOverlay::followScreen);
        connect(screen, &QScreen::availableGeometryChanged, this, &CursorOverlay::followScreen);
    }
}

CursorOverlay::~CursorOverlay() = default;

bool CursorOverlay::watchesMotion() const
{
    return m_motion->isWatching();
}

void CursorOverlay::followScreen()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect whole = screen->geometry();
    m_view->setDisplay(whole.topLeft(), whole.size());
    m_view->engine().setUsableArea(QRectF(screen->availableGeometry().translated(-whole.topLeft())));
}

bool CursorOverlay::ownsWindow(quint64 id) const
{
    std::vector<OverlaySprite*> windows = m_view->ringWindows();
    for (OverlaySprite* window : { m_view->characterWindow(), m_view->bubbleWindow(), m_view->labelWindow(),
                                   m_view->photoWindow() })
        windows.push_back(window);
    // handle() first: winId() would create a window that was never shown.
    return std::any_of(windows.begin(), windows.end(),
                       [id](OverlaySprite* window) { return window && window->handle() && window->winId() == id; });
}

void CursorOverlay::start()
{
    m_running = true;
    m_view->setHidden(false);
    wake();
    step();
}

void CursorOverlay::stop()
{
    m_running = false;
    const bool wasRunning = m_timer.isActive();
    m_timer.stop();
    m_due.stop();
    m_poll.stop();
    m_view->setHidden(true);
    if (wasRunning)
        emit framesRunningChanged(false);
}

void CursorOverlay::wake()
{
    m_changed = true;
    runFrames();
}

void CursorOverlay::runFrames()
{
    if (!m_running || m_timer.isActive())
        return;
    m_due.stop();
    m_poll.stop();
    m_timer.start();
    emit framesRunningChanged(true);
}

void CursorOverlay::step()
{
    m_changed = false;
    m_view->engine().step();
    m_view->update();
    // Once a second as well while frames run: the windows bypass the window manager, so nobody else
    // keeps them above the rest, and a restacking the watch missed is put right.
    if (++m_frames % 60 == 0)
        m_view->raiseWindows();
    const bool atRest = m_view->atRest();
    const FaceState face = m_view->engine().face();
    if (face != m_reportedFace || (atRest && !m_reportedAtRest)) {
        m_reportedFace = face;
        m_reportedAtRest = atRest;
        if (onFace)
            onFace(face, atRest);
    }
    if (!m_running)
        return;
    // A change during this frame (from the face's receiver, say) needs the next one.
    if (atRest && !m_changed)
        rest();
    else
        runFrames();
}

void CursorOverlay::rest()
{
    if (m_timer.isActive()) {
        m_timer.stop();
        emit framesRunningChanged(false);
    }
    const double due = m_view->nextChange();
    const double wait = due - m_view->engine().now();
    if (std::isfinite(wait)) {
        m_dueAt = due;
        m_due.start(static_cast<int>(std::clamp(std::ceil(wait * 1000), 0.0, 3600e3)));
    } else {
        m_dueAt.reset();
        m_due.stop();
    }
    // Motion events wake the frames at once, but a warped pointer (moved by another program, a
    // window manager or our own restore after a click) sends none: one question to the server a few
    // times a second catches it, and costs nothing next to a frame.
    m_polledAt = m_mouse();
    m_poll.start();
}

void CursorOverlay::pollPointer()
{
    const QPointF now = m_mouse();
    if (now != m_polledAt)
        wake();
}
