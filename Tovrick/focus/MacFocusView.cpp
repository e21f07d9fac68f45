#include "Tovrick/focus/MacFocusView.h"

#include <QFontDatabase>
#include <QVariantMap>

#include <algorithm>
#include <cmath>

#include "Tovrick/focus/AccountPageView.h"
#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/FocusCountdown.h"
#include "Tovrick/screen/ScreenCaptureAccess.h"
#include "shared/account/TovrickAccount.h"
#include "shared/account/TovrickSignInView.h"

namespace focusPage {

QString title(FocusPage page)
{
    switch (page) {
    case FocusPage::focus: return QStringLiteral("Focus");
    case FocusPage::history: return QStringLiteral("History");
    case FocusPage::vision: return QStringLiteral("Vision Images");
    case FocusPage::sounds: return QStringLiteral("Sounds");
    case FocusPage::account: return QStringLiteral("Account");
    }
    return {};
}

QString icon(FocusPage page)
{
    switch (page) {
    case FocusPage::focus: return QStringLiteral("scope");
    case FocusPage::history: return QStringLiteral("clock.arrow.circlepath");
    case FocusPage::vision: return QStringLiteral("photo.stack");
    case FocusPage::sounds: return QStringLiteral("waveform");
    case FocusPage::account: return QStringLiteral("person.crop.circle");
    }
    return {};
}

QString identifier(FocusPage page)
{
    return QStringLiteral("macFocus") + title(page);
}

} // namespace focusPage

MacFocusView::MacFocusView(FocusCompanion& focus, TovrickAccount& account, ScreenCaptureAccess& screenAccess,
                           QObject* parent)
    : QObject(parent), m_focus(focus), m_account(account), m_screenAccess(screenAccess), m_userId(account.userId())
{
    connect(&m_focus, &FocusCompanion::currentChanged, this, &MacFocusView::sessionChanged);
    connect(&m_focus, &FocusCompanion::historyChanged, this, &MacFocusView::historyChanged);
    connect(&m_account, &TovrickAccount::sessionChanged, this, [this] {
        emit accountChanged();
        emit canStartChanged();
        userMayHaveChanged();
    });
    for (auto change : { &ScreenCaptureAccess::checkingChanged, &ScreenCaptureAccess::needsSettingsChanged })
        connect(&m_screenAccess, change, this, [this] {
            emit screenAccessChanged();
            emit canStartChanged();
        });
    m_signIn = new TovrickSignInView(&m_account, this);
    m_signIn->pair = [this] { requestPair(); };
    m_accountPage = new AccountPageView(*this, m_focus, m_account, this);
}

void MacFocusView::userMayHaveChanged()
{
    const std::optional<QString> user = m_account.userId();
    if (user == m_userId)
        return;
    m_userId = user;
    // The confirmation was given for the account shown then; "Delete account" would now delete
    // whoever is signed in.
    setConfirmDelete(false);
    if (m_page != FocusPage::focus) {
        m_page = FocusPage::focus;
        emit pageChanged();
    }
    setMessage({});
    if (reloadImages)
        reloadImages();
}

int MacFocusView::headerLength(double areaHeight, bool activeSession)
{
    if (activeSession)
        return kLiveHeader;
    const double length = std::clamp(areaHeight - 440, 100.0, 280.0);
    return static_cast<int>(length);
}

int MacFocusView::focusedMinutes(const std::vector<FocusSession>& history)
{
    double seconds = 0;
    for (const FocusSession& session : history)
        seconds += session.realElapsed.value_or(session.elapsed);
    return static_cast<int>(std::trunc(seconds / 60));
}

double MacFocusView::progress(const FocusSession& session)
{
    if (!(session.duration > 0))
        return 0;
    return std::clamp(session.elapsed / session.duration, 0.0, 1.0);
}

QString MacFocusView::progressText(double progress)
{
    return QStringLiteral("%1 percent").arg(static_cast<int>(std::trunc(progress * 100)));
}

QString MacFocusView::clockText(const FocusSession& session)
{
    return FocusSession::clock(std::max(session.duration - session.elapsed, 0.0));
}

std::optional<FocusSession> MacFocusView::activeSession() const
{
    const std::optional<FocusSession>& current = m_focus.current();
    if (current && current->status != FocusSession::Status::ended)
        return current;
    return std::nullopt;
}

QVariantList MacFocusView::pages() const
{
    QVariantList list;
    for (int index = 0; index < focusPage::count; ++index) {
        const auto page = static_cast<FocusPage>(index);
        list.append(QVariantMap { { QStringLiteral("title"), focusPage::title(page) },
                                  { QStringLiteral("icon"), focusPage::icon(page) },
                                  { QStringLiteral("identifier"), focusPage::identifier(page) } });
    }
    return list;
}

bool MacFocusView::signedIn() const
{
    return m_account.isSignedIn();
}

void MacFocusView::setTask(const QString& task)
{
    if (m_task == task)
        return;
    const bool couldStart = canStart();
    m_task = task;
    emit taskChanged();
    if (couldStart != canStart())
        emit canStartChanged();
}

void MacFocusView::setMinutes(int minutes)
{
    minutes = std::clamp(minutes, kMinimumMinutes, kMaximumMinutes);
    if (m_minutes == minutes)
        return;
    m_minutes = minutes;
    emit minutesChanged();
}

QVariantList MacFocusView::durationChoices() const
{
    QVariantList list;
    for (int choice : kDurationChoices)
        list.append(choice);
    return list;
}

void MacFocusView::setMessage(const QString& message)
{
    if (m_message == message)
        return;
    m_message = message;
    emit messageChanged();
}

void MacFocusView::setEditingTask(bool editing)
{
    if (m_editingTask == editing)
        return;
    m_editingTask = editing;
    emit editingTaskChanged();
}

void MacFocusView::setConfirmDelete(bool confirm)
{
    if (m_confirmDelete == confirm)
        return;
    m_confirmDelete = confirm;
    emit confirmDeleteChanged();
}

int MacFocusView::focusedMinutes() const
{
    return focusedMinutes(m_focus.history());
}

bool MacFocusView::sessionRunning() const
{
    const std::optional<FocusSession> session = activeSession();
    return session && session->status == FocusSession::Status::running;
}

QString MacFocusView::title() const
{
    return hasActiveSession() ? QStringLiteral("Stay in your flow.") : QStringLiteral("One thing at a time.");
}

QString MacFocusView::sessionTask() const
{
    const std::optional<FocusSession> session = activeSession();
    return session ? session->task : QString();
}

QString MacFocusView::clockText() const
{
    const std::optional<FocusSession> session = activeSession();
    return session ? clockText(*session) : QString();
}

QString MacFocusView::clockLabel() const
{
    return sessionRunning() ? QStringLiteral("remaining") : QStringLiteral("paused");
}

double MacFocusView::progress() const
{
    const std::optional<FocusSession> session = activeSession();
    return session ? progress(*session) : 0.0;
}

QString MacFocusView::progressText() const
{
    return progressText(progress());
}

QString MacFocusView::detail() const
{
    const std::optional<FocusSession> session = activeSession();
    return session ? session->detail : QString();
}

bool MacFocusView::developerBadge() const
{
    const std::optional<FocusSession> session = activeSession();
    return session && session->isDeveloperMode();
}

QFont MacFocusView::clockFont() const
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    font.setPixelSize(68);
    font.setWeight(QFont::DemiBold);
    return FocusCountdown::evenDigitsFont(font);
}

bool MacFocusView::checking() const
{
    return m_screenAccess.checking();
}

bool MacFocusView::needsSettings() const
{
    return m_screenAccess.needsSettings();
}

QString MacFocusView::startLabel() const
{
    return checking() ? QStringLiteral("Checking screen access\u2026") : QStringLiteral("Start focus");
}

bool MacFocusView::canStart() const
{
    return !checking() && signedIn() && !m_task.trimmed().isEmpty();
}

void MacFocusView::selectPage(int page)
{
    if (page < 0 || page >= focusPage::count)
        return;
    setEditingTask(false);
    const auto chosen = static_cast<FocusPage>(page);
    if (chosen != m_page) {
        m_page = chosen;
        emit pageChanged();
    }
    setMessage({});
}

QCoro::Task<> MacFocusView::start()
{
    setEditingTask(false);
    QPointer<MacFocusView> self(this);
    const bool ready = co_await m_screenAccess.check();
    if (!self)
        co_return;
    if (!ready) {
        setMessage(m_screenAccess.message());
        co_return;
    }
    setMessage(m_focus.start(m_task, false, static_cast<double>(m_minutes)));
}

QCoro::Task<> MacFocusView::resume()
{
    QPointer<MacFocusView> self(this);
    const bool ready = co_await m_screenAccess.check();
    if (!self)
        co_return;
    setMessage(ready ? m_focus.resume() : m_screenAccess.message());
}

QCoro::Task<> MacFocusView::recheckAccess()
{
    QPointer<MacFocusView> self(this);
    const bool ready = co_await m_screenAccess.check();
    if (!self)
        co_return;
    setMessage(ready ? QStringLiteral("Screen access is ready. Start or resume your session.")
                     : m_screenAccess.message());
}

void MacFocusView::startFocus()
{
    start();
}

void MacFocusView::pauseOrResume()
{
    if (sessionRunning())
        setMessage(m_focus.pause(QStringLiteral("Paused")));
    else
        resume();
}

void MacFocusView::endSession()
{
    setMessage(m_focus.end());
}

void MacFocusView::openSettings()
{
    m_screenAccess.openSettings();
}

void MacFocusView::recheck()
{
    recheckAccess();
}

void MacFocusView::reopen()
{
    m_screenAccess.relaunch();
}

void MacFocusView::requestPair()
{
    if (pair)
        pair();
}

void MacFocusView::signInWithGoogle()
{
    m_signIn->signInWithGoogle();
}

void MacFocusView::signInWithApple()
{
    m_signIn->signInWithApple();
}

void MacFocusView::deleteAccount()
{
    // The outcome shows through the account object: its message, or the sign-in page once the
    // session is gone.
    m_account.deleteAccount();
}
