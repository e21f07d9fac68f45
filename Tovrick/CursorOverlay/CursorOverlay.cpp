#include "Tovrick/CursorOverlay/CursorOverlay.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "Tovrick/CursorOverlay/OverlaySprite.h"
#include "Tovrick/screen/X11Display.h"
#include "shared/util/Settings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

#include <algorithm>

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

namespace {

// Asking the server where the pointer is costs a round trip, the largest part of an idle frame.
// Once the pointer has rested for half a second it is asked every fourth frame only, until it moves.
QPointF polledPointer()
{
    static QPointF last = CursorOverlay::pointerPosition();
    static int stillFrames = 0;
    static int skipped = 0;
    if (stillFrames >= 30 && ++skipped < 4)
        return last;
    skipped = 0;
    const QPointF now = CursorOverlay::pointerPosition();
    stillFrames = now == last ? stillFrames + 1 : 0;
    last = now;
    return now;
}

} // namespace

CursorOverlay::CursorOverlay(QObject* parent)
    : CursorOverlay(CursorEngine::Environment { &CursorOverlay::mediaClock, &polledPointer }, parent)
{
}

CursorOverlay::CursorOverlay(CursorEngine::Environment environment, QObject* parent)
    : QObject(parent), m_view(std::make_unique<CursorView>(std::move(environment)))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(cursorChoices::frameMilliseconds);
    connect(&m_timer, &QTimer::timeout, this, &CursorOverlay::step);

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
    m_view->setHidden(false);
    if (!m_timer.isActive())
        m_timer.start();
    step();
}

void CursorOverlay::stop()
{
    m_timer.stop();
    m_view->setHidden(true);
}

void CursorOverlay::step()
{
    m_view->engine().step();
    m_view->update();
    // Once a second as well: the windows bypass the window manager, so nobody else keeps them above
    // the rest, and a restacking the watch missed is put right.
    if (++m_frames % 60 == 0)
        m_view->raiseWindows();
    if (onFace)
        onFace(m_view->engine().face());
}
