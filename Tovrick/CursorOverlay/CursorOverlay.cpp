#include "Tovrick/CursorOverlay/CursorOverlay.h"

#include "Tovrick/CursorOverlay/CursorChoices.h"
#include "shared/util/Settings.h"

#include <QCursor>
#include <QGuiApplication>
#include <QScreen>

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
    return QCursor::pos() - origin;
}

CursorOverlay::CursorOverlay(QObject* parent)
    : CursorOverlay(CursorEngine::Environment { &CursorOverlay::mediaClock, &CursorOverlay::pointerPosition }, parent)
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
    if (onFace)
        onFace(m_view->engine().face());
}
