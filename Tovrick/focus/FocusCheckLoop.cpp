// The screen checks of FocusCompanion: capture, judge, record, nudge, back off.
//
// A check works on a copy of the session taken when it started and on the generation it started
// in. It suspends only at the captures and the two model requests; after each it re-tests that the
// engine still exists, that the session is still live and that no state change replaced the
// generation, and otherwise leaves without touching anything.

#include "Tovrick/focus/FocusCompanion.h"

#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "Tovrick/screen/ScreenReaderError.h"
#include "shared/util/Log.h"
#include "shared/util/Text.h"

#include <cmath>

namespace {

const QString kFallbackSentence = QStringLiteral("Are you sure you're on task right now?");

// What the user reads about a failed check. A library's own message (a JSON parser's, say) means
// nothing to them: it goes to the log, and they read one plain sentence.
QString describe(const std::exception_ptr& error)
{
    try {
        std::rethrow_exception(error);
    } catch (const UserFacingError& failure) {
        return failure.description();
    } catch (const JsonDecodeError& failure) {
        logline::warning(QStringLiteral("focus check answer unreadable: %1").arg(QString::fromUtf8(failure.what())));
        return QStringLiteral("The answer couldn't be read");
    } catch (const std::exception& failure) {
        logline::warning(QStringLiteral("focus check failed: %1").arg(QString::fromUtf8(failure.what())));
    } catch (...) {
    }
    return QStringLiteral("Unknown error");
}

bool sameApp(const std::optional<FrontmostApp>& before, const std::optional<FrontmostApp>& after)
{
    if (!before || !after)
        return !before && !after;
    return before->pid == after->pid;
}

// The line of a fresh reading that is the target, if it still says the same and barely moved.
std::optional<Target> relocate(const Target& target, const ScreenSnapshot& snapshot)
{
    const QPointF centre = target.rect.center();
    for (const TextLine& line : snapshot.lines) {
        const QPointF moved = line.rect.center();
        if (line.text == target.text && std::abs(moved.x() - centre.x()) < FocusCompanion::kTargetDrift
            && std::abs(moved.y() - centre.y()) < FocusCompanion::kTargetDrift) {
            return Target { line.id, line.text, line.rect };
        }
    }
    return std::nullopt;
}

} // namespace

bool FocusCompanion::isCurrent(QUuid generation) const
{
    return m_generation == generation && sessionIsLive();
}

void FocusCompanion::finishCheck(QUuid generation)
{
    if (m_generation == generation)
        m_work = false;
}

void FocusCompanion::startCheck(const FocusSession& session)
{
    const double startedAt = m_env.now();
    m_work = true;
    m_workStartedAt = startedAt;
    runCheck(session, m_generation, startedAt);
}

QCoro::Task<> FocusCompanion::runCheck(FocusSession session, QUuid generation, double startedAt)
{
    QPointer<FocusCompanion> self(this);
    // Started from the timer and never awaited: nothing may escape into the event loop.
    try {
        auto judging = judge(self, session, generation, startedAt);
        co_await judging;
    } catch (const std::exception& error) {
        logline::warning(QStringLiteral("focus check stopped: %1").arg(QString::fromUtf8(error.what())));
    } catch (...) {
        logline::warning(QStringLiteral("focus check stopped"));
    }
    if (self)
        self->finishCheck(generation);
}

QCoro::Task<> FocusCompanion::judge(QPointer<FocusCompanion> self, const FocusSession& session, QUuid generation,
                                    double startedAt)
{
    if (!sessionIsLive())
        co_return;

    std::exception_ptr failure;
    std::optional<ScreenSnapshot> snapshot;
    try {
        snapshot = co_await m_env.capture();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        checkFailed(failure, session, generation);
        co_return;
    }
    if (!isCurrent(generation))
        co_return;

    double idle = m_env.idleSeconds();
    if (!std::isfinite(idle))
        idle = 0;
    std::optional<FocusDecision> decision;
    try {
        // The call's by-value arguments must not live inside the co_await (g++ 12 frees them twice).
        auto judging = m_env.classify(*snapshot, session, idle);
        decision = co_await judging;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        checkFailed(failure, session, generation);
        co_return;
    }
    if (!isCurrent(generation))
        co_return;

    m_consecutiveFailures = 0;
    m_retryNotBefore = 0;
    const double age = m_env.now() - startedAt;
    const bool stale = age > kStaleVerdict;
    const FocusCheck check(session.elapsed, stale ? FocusActivity::unavailable : decision->activity,
                           decision->probability, decision->confidence,
                           stale ? std::nullopt : std::optional(decision->probabilities),
                           session.observationDuration());
    const bool nudgeDue = m_policy.observe(check, age);
    if (m_current) {
        if (stale)
            m_current->detail = QStringLiteral("Last check was stale; skipped");
        else if (check.activity == FocusActivity::uncertain)
            m_current->detail = QStringLiteral("Not enough context to judge");
        else if (check.activity == FocusActivity::onTask)
            m_current->detail = QStringLiteral("On task");
        else
            m_current->detail = QStringLiteral("Off task \u00b7 checking again before nudging");
        m_current->checks.push_back(check);
    }
    publish();
    save();
    if (!nudgeDue || !sessionIsLive())
        co_return;

    m_current->detail = QStringLiteral("Off task \u00b7 preparing a gentle nudge");
    publish();
    auto nudging = nudge(self, session, generation, check.id);
    co_await nudging;
}

QCoro::Task<> FocusCompanion::nudge(QPointer<FocusCompanion> self, const FocusSession& session, QUuid generation,
                                    QUuid checkId)
{
    std::optional<ScreenSnapshot> snapshot;
    try {
        snapshot = co_await m_env.capture();
    } catch (...) {
    }
    if (!self || !isCurrent(generation))
        co_return;

    std::optional<FocusAPI::Nudge> prepared;
    const double askedAt = m_env.now();
    const std::optional<FrontmostApp> frontBefore = m_env.frontmostApp();
    if (snapshot) {
        try {
            auto preparing = m_env.prepareNudge(*snapshot, session.task);
            prepared = co_await preparing;
        } catch (...) {
        }
        if (!self)
            co_return;
    }
    // The reminder's text goes into the session only while this check is still the live one.
    if (!isCurrent(generation))
        co_return;
    if (!prepared) {
        if (m_current)
            m_current->detail = QStringLiteral("Off task \u00b7 using a gentle reminder");
        deliver(kFallbackSentence, std::nullopt, checkId);
        co_return;
    }

    std::optional<Target> target;
    if (prepared->target && m_env.now() - askedAt < kNudgeFreshness && sameApp(frontBefore, m_env.frontmostApp())) {
        std::optional<ScreenSnapshot> recheck;
        try {
            recheck = co_await m_env.capture();
        } catch (...) {
        }
        if (!self)
            co_return;
        if (recheck)
            target = relocate(*prepared->target, *recheck);
    }
    if (!isCurrent(generation))
        co_return;
    deliver(prepared->message, target, checkId);
}

void FocusCompanion::deliver(const QString& message, const std::optional<Target>& target, QUuid checkId)
{
    QPointer<FocusCompanion> self(this);
    if (onNudge)
        onNudge(message, target);
    if (!self)
        return;
    if (m_current) {
        m_current->detail = QStringLiteral("Off task \u00b7 Tovrick nudged you");
        for (FocusCheck& check : m_current->checks) {
            if (check.id == checkId)
                check.nudged = true;
        }
    }
    publish();
    save();
}

void FocusCompanion::checkFailed(const std::exception_ptr& error, const FocusSession& session, QUuid generation)
{
    if (m_generation == generation && ScreenReaderError::isDeclined(error)) {
        ScreenCaptureAccess& access = ScreenCaptureAccess::shared();
        access.setConfirmedByCapture(false);
        access.setNeedsSettings(true);
        access.setMessage(QStringLiteral(
            "The system stopped screen access. Make sure Tovrick runs on your display and press Recheck, then "
            "resume your session."));
        pause(QStringLiteral("Screen access was denied by the system. Recheck access before resuming."));
        return;
    }
    if (!isCurrent(generation))
        return;

    resetPolicy();
    if (m_current) {
        m_current->checks.push_back(FocusCheck(session.elapsed, FocusActivity::unavailable, 0, 0, std::nullopt,
                                               session.observationDuration()));
    }
    m_consecutiveFailures = std::min(m_consecutiveFailures + 1, kFailureCap);
    const double delay = std::min(kBackOffBase * std::pow(2.0, m_consecutiveFailures - 1), kBackOffCap);
    m_retryNotBefore = m_env.now() + delay;
    if (m_current) {
        m_current->detail = QStringLiteral("Check unavailable: %1. Timer continues; retrying in %2s.")
                                .arg(text::prefixCharacters(describe(error), kErrorTextCut),
                                     QString::number(static_cast<long long>(delay)));
    }
    publish();
    save();
}
