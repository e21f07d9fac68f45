#include "Tovrick/assistant/HostPointing.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "Tovrick/CursorOverlay/CursorOverlay.h"
#include "Tovrick/CursorOverlay/CursorView.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "shared/util/Settings.h"
#include "shared/util/UserFacingError.h"

namespace {

constexpr QSizeF kNoScreen {1440, 900};

int gridCoordinate(double value, double extent)
{
    // A reading without an extent has no grid: its corner stands in.
    if (!(extent > 0))
        return 0;
    const double fraction = value / extent;
    if (!(fraction > 0))
        return 0;
    return static_cast<int>(std::min(fraction, 1.0) * 1000.0);
}

double gridFraction(double value)
{
    if (!(value > 0))
        return 0;
    return std::min(value, 1000.0) / 1000.0;
}

} // namespace

HostPointing::HostPointing(CursorView& view, Ports ports, QObject* parent)
    : QObject(parent), m_view(view), m_ports(std::move(ports))
{
    if (!m_ports.now)
        m_ports.now = &CursorOverlay::mediaClock;
    if (!m_ports.after)
        m_ports.after = [this](double seconds, std::function<void()> work) {
            auto pending = std::make_shared<Pending>();
            const int ms = static_cast<int>(std::ceil(std::max(seconds, 0.0) * 1000.0));
            QTimer::singleShot(ms, this, [pending, run = std::move(work)] {
                if (!pending->cancelled)
                    run();
            });
            return pending;
        };
    if (!m_ports.focusSession)
        m_ports.focusSession = [] { return std::optional<FocusSession>(); };
    if (!m_ports.refreshClips)
        m_ports.refreshClips = [] { MotivationAudioStore::shared().refresh(); };
    if (!m_ports.playClip)
        m_ports.playClip = [] { MotivationAudioStore::shared().nudge(); };
    if (!m_ports.mouse)
        m_ports.mouse = [] { return std::optional<QPointF>(CursorOverlay::pointerPosition()); };
    if (!m_ports.accessibilityTrusted)
        m_ports.accessibilityTrusted = [] {
            // Without an accessibility bus no control can be read or driven.
            const QDBusConnectionInterface* bus = QDBusConnection::sessionBus().interface();
            return bus && bus->isServiceRegistered(QStringLiteral("org.a11y.Bus")).value();
        };
    if (!m_ports.computerControl)
        m_ports.computerControl = [] { return Settings::shared().computerControl(); };
    if (!m_ports.primaryScreen)
        m_ports.primaryScreen = [] {
            const QScreen* screen = QGuiApplication::primaryScreen();
            return screen ? std::optional<QSizeF>(screen->geometry().size()) : std::nullopt;
        };
    if (!m_ports.sleep)
        m_ports.sleep = [](double seconds, CancelToken token) -> QCoro::Task<> {
            const auto wait = std::chrono::milliseconds(static_cast<long long>(std::ceil(std::max(seconds, 0.0) * 1000.0)));
            auto waiting = cancellableSleep(wait, token);
            co_await std::move(waiting);
        };
    m_timer.setInterval(1000 / 30);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &HostPointing::tick);
}

HostPointing::~HostPointing()
{
    cancel(m_captionClear);
    cancel(m_readingDone);
    if (m_motivationTask)
        m_motivationTask->cancel();
}

void HostPointing::cancel(const PendingWork& work)
{
    if (work)
        work->cancel();
}

double HostPointing::readingTime(const QString& text)
{
    // Words are what the space character separates; tabs and line feeds join.
    const auto words = text.split(QLatin1Char(' '), Qt::SkipEmptyParts).size();
    const double v = static_cast<double>(words) * 0.32 + 1.2;
    return v < 2.8 ? 5.8 : std::min(v, 12.0) + 3.0;
}

QPointF HostPointing::pointBelow(const QRectF& thing)
{
    return {thing.center().x(), thing.bottom() + 3.0};
}

HostPointing::Scroll HostPointing::scrollDirection(const QString& direction, int amount)
{
    if (direction == QLatin1String("up"))
        return {0, -amount, QStringLiteral("↑")};
    if (direction == QLatin1String("left"))
        return {-amount, 0, QStringLiteral("←")};
    if (direction == QLatin1String("right"))
        return {amount, 0, QStringLiteral("→")};
    return {0, amount, QStringLiteral("↓")};
}

void HostPointing::hideGoalImage()
{
    m_view.hideGoalPhotoNow();
}

void HostPointing::sendHome()
{
    m_view.engine().setMode(m_view.engine().homeMode());
}

void HostPointing::liveCaption(const QString& trimmed)
{
    cancel(m_readingDone);
    if (trimmed.isEmpty()) {
        showCaptionFor(std::nullopt, 0);
        return;
    }
    showCaptionFor(trimmed, 0);
    m_speaking = true;
}

void HostPointing::showCaptionFor(const std::optional<QString>& text, double clearAfter)
{
    cancel(m_captionClear);
    m_view.setCaption(text);
    if (text && clearAfter > 0)
        scheduleCaptionClear(clearAfter);
}

void HostPointing::scheduleCaptionClear(double delay)
{
    cancel(m_captionClear);
    QPointer<HostPointing> self(this);
    m_captionClear = m_ports.after(delay, [self] {
        if (self)
            self->m_view.setCaption(std::nullopt);
    });
}

void HostPointing::showCaption(const QString& text)
{
    hideGoalImage();
    if (!text.isEmpty())
        showCaptionFor(text, 0);
    cancel(m_readingDone);
    QPointer<HostPointing> self(this);
    m_readingDone = m_ports.after(readingTime(text), [self] {
        if (!self)
            return;
        if (self->m_speaking)
            self->m_quietSince = self->now();
        self->m_speaking = false;
        cancel(self->m_captionClear);
        self->m_view.setCaption(std::nullopt);
    });
}

void HostPointing::say(const QString& text, const std::optional<Target>& target, const MotivationNudgePlan& plan)
{
    if (target) {
        pointAt(Spot {pointBelow(target->rect), target->rect});
    } else {
        sendHome();
        m_view.setSpeechTarget(std::nullopt);
    }
    m_speaking = true;
    showCaption(text);
    if (plan.showsImage)
        m_view.loadFallbackGoalImage();
    if (m_motivationTask)
        m_motivationTask->cancel();
    if (!plan.playsAudio)
        return;
    std::optional<QUuid> session;
    if (const std::optional<FocusSession> current = m_ports.focusSession())
        session = current->id;
    CancelToken token;
    m_motivationTask = token;
    QPointer<HostPointing> self(this);
    m_ports.after(0, [self, session, token] {
        if (self)
            self->motivationFollowUp(session, token);
    });
}

void HostPointing::cancelMotivation()
{
    if (m_motivationTask)
        m_motivationTask->cancel();
    m_motivationTask.reset();
}

void HostPointing::motivationFollowUp(std::optional<QUuid> session, CancelToken token)
{
    m_ports.refreshClips();
    if (token.isCancelled())
        return;
    const std::optional<FocusSession> current = m_ports.focusSession();
    const std::optional<QUuid> now = current ? std::optional<QUuid>(current->id) : std::nullopt;
    if (now != session || !current || current->status != FocusSession::Status::running)
        return;
    if (!current->checks.empty() && current->checks.back().activity == FocusActivity::onTask)
        return;
    m_ports.playClip();
}

void HostPointing::setAwake(bool awake)
{
    CursorEngine& engine = m_view.engine();
    engine.setAwake(awake);
    engine.setBrainMood(std::nullopt);
    engine.setGazeOverride(std::nullopt);
    if (awake)
        return;
    m_snapshot.reset();
    hideGoalImage();
    m_queue.clear();
    m_timer.stop();
    sendHome();
    m_view.setSpeechTarget(std::nullopt);
    cancel(m_captionClear);
    m_view.setCaption(std::nullopt);
}

void HostPointing::stop()
{
    // The hands stop first, between two of their events.
    if (m_acting)
        std::exchange(m_acting, std::nullopt)->cancel();
    hideGoalImage();
    m_stoppedUntil = now() + kStopSeconds;
    m_queue.clear();
    m_view.engine().setDragging(false);
    goHome();
    m_view.showLabel(QStringLiteral("Stopped"), 1.6);
}

void HostPointing::goHome()
{
    sendHome();
    m_view.engine().setGazeOverride(std::nullopt);
    m_view.setSpeechTarget(std::nullopt);
    m_homeRequested = false;
    m_timer.stop();
}

void HostPointing::pointAt(const Spot& spot)
{
    m_queue.push_back(spot);
    m_homeRequested = false;
    startPointTimer();
}

void HostPointing::startPointTimer()
{
    if (m_timer.isActive())
        return;
    m_timer.start();
    tick();
}

void HostPointing::stopPointing()
{
    m_homeRequested = true;
    startPointTimer();
}

void HostPointing::tick()
{
    const double at = now();
    if (at < m_holdUntil)
        return;
    CursorEngine& engine = m_view.engine();
    if (m_queue.empty()) {
        if (engine.mode() == engine.homeMode()) {
            m_timer.stop();
            return;
        }
        const double quiet = m_speaking ? 0 : at - m_quietSince;
        if ((quiet > kQuietAfterStop && m_homeRequested) || quiet > kQuietAnyway)
            goHome();
        return;
    }
    const Spot spot = m_queue.front();
    m_queue.pop_front();
    m_view.setSpeechTarget(spot.thing);
    if (!m_speaking)
        m_quietSince = at;
    engine.setGazeOverride(std::nullopt);
    engine.setMode(CursorMode::pinned(spot.point));
    m_holdUntil = at + kHoldSeconds;
}

QSizeF HostPointing::screenSize() const
{
    if (m_snapshot)
        return m_snapshot->size;
    return m_ports.primaryScreen().value_or(kNoScreen);
}

QPointF HostPointing::gridToScreen(double x, double y) const
{
    const QSizeF size = screenSize();
    return {gridFraction(x) * size.width(), gridFraction(y) * size.height()};
}

QCoro::Task<> HostPointing::flyTo(QPointF point, CancelToken token)
{
    QPointer<HostPointing> self(this);
    m_view.engine().setMode(CursorMode::pinned(point));
    auto settle = m_ports.sleep(0.04, token);
    co_await std::move(settle);
    if (!self)
        co_return;
    const std::optional<Flight>& flight = m_view.engine().flight();
    const double left = flight ? flight->start + flight->duration - now() : 0;
    if (left > 0) {
        auto landing = m_ports.sleep(left + 0.05, token);
        co_await std::move(landing);
    }
}

QCoro::Task<> HostPointing::sleep(double seconds, CancelToken token)
{
    auto waiting = m_ports.sleep(seconds, token);
    co_await std::move(waiting);
}

void HostPointing::beginAction(CancelToken acting)
{
    m_acting = std::move(acting);
    m_queue.clear();
    m_holdUntil = 0;
    m_homeRequested = false;
    m_view.engine().setGazeOverride(std::nullopt);
    m_view.setSpeechTarget(std::nullopt);
}

void HostPointing::endAction()
{
    m_acting.reset();
    m_holdUntil = now() + 1.5;
    if (!m_speaking)
        m_quietSince = now();
    startPointTimer();
}

void HostPointing::dock()
{
    const CursorMode::Kind kind = m_view.engine().mode().kind;
    if (kind == CursorMode::Kind::docked || kind == CursorMode::Kind::following)
        m_view.engine().setMode(CursorMode::docked());
}

std::pair<QString, QString> HostPointing::screenContext(ScreenSnapshot reading, const std::optional<QString>& sentence)
{
    m_snapshot = std::move(reading);
    const ScreenSnapshot& held = *m_snapshot;
    QString text = held.promptText();
    const QPointF mouse = m_ports.mouse().value_or(QPointF());
    text += QStringLiteral("\nThe user's mouse pointer is at @%1,%2")
                .arg(gridCoordinate(mouse.x(), held.size.width()))
                .arg(gridCoordinate(mouse.y(), held.size.height()));
    if (const std::optional<Target> under = held.targetNear(mouse))
        text += QStringLiteral(", on %1 \"%2\"").arg(under->id, under->text);
    text += QStringLiteral(". When they say \"this\", \"that\" or \"here\", they mean what's at their mouse pointer.");
    if (sentence)
        text = *sentence + QStringLiteral("\nHere's the screen now (ids have changed):\n") + text;
    if (!m_ports.accessibilityTrusted() && m_ports.computerControl())
        text += QStringLiteral("\n(Clickable controls are hidden until the accessibility bus runs: the user has to install at-spi2-core and start its at-spi-bus-launcher.)");
    return {text, QString::fromLatin1(held.jpeg.toBase64())};
}

QString HostPointing::screenCaptureError(const std::exception_ptr& error, const std::optional<QString>& sentence)
{
    const QString failure = ScreenReaderError::isDeclined(error)
        ? QStringLiteral("The system denied screen access to this copy of Tovrick. Open Focus & Account on the "
                         "computer to recheck screen access.")
        : QStringLiteral("I couldn't capture the screen: ")
            + describeError(error, QStringLiteral("The capture failed."));
    return sentence ? *sentence + QLatin1Char(' ') + failure : failure;
}
