#include "Tovrick/focus/AccountPageView.h"

#include "Tovrick/focus/FocusCompanion.h"
#include "Tovrick/focus/MacFocusView.h"
#include "shared/account/TovrickAccount.h"

AccountPageView::AccountPageView(MacFocusView& window, FocusCompanion& focus, TovrickAccount& account, QObject* parent)
    : QObject(parent), m_window(window), m_focus(focus), m_account(account)
{
    for (auto signal : { &TovrickAccount::sessionChanged, &TovrickAccount::busyChanged })
        connect(&m_account, signal, this, &AccountPageView::accountChanged);
    connect(&m_account, &TovrickAccount::messageChanged, this, &AccountPageView::bannersChanged);
    connect(&m_window, &MacFocusView::messageChanged, this, &AccountPageView::bannersChanged);
    connect(&m_focus, &FocusCompanion::developerModeChanged, this, &AccountPageView::developerModeChanged);
}

QString AccountPageView::methodName(const QString& authMethod)
{
    if (authMethod == QStringLiteral("apple"))
        return QStringLiteral("Apple");
    if (authMethod == QStringLiteral("google"))
        return QStringLiteral("Google");
    return QStringLiteral("your iPhone");
}

bool AccountPageView::offersDeletion(const std::optional<AccountSession>& session, bool signedIn)
{
    return signedIn && session
        && (session->authMethod == QStringLiteral("apple") || session->authMethod == QStringLiteral("google"));
}

int AccountPageView::checkInterval(bool developerMode)
{
    return developerMode ? 10 : 30;
}

QString AccountPageView::checkExplanation(bool developerMode)
{
    return QStringLiteral("While a session is running, your main display is sent to Tovrick\u2019s AI service every "
                          "%1 seconds to check how it relates to your task. Access to the X11 display is required.")
        .arg(checkInterval(developerMode));
}

bool AccountPageView::signedIn() const
{
    return m_account.isSignedIn();
}

QString AccountPageView::displayName() const
{
    return signedIn() ? m_account.session()->displayName : QString();
}

QString AccountPageView::signedInWith() const
{
    return signedIn() ? QStringLiteral("Signed in with ") + methodName(m_account.session()->authMethod) : QString();
}

QString AccountPageView::email() const
{
    return signedIn() ? m_account.session()->email.value_or(QString()) : QString();
}

bool AccountPageView::busy() const
{
    return m_account.busy();
}

bool AccountPageView::offersDeletion() const
{
    return offersDeletion(m_account.session(), signedIn());
}

bool AccountPageView::developerMode() const
{
    return m_focus.developerMode();
}

QString AccountPageView::checkExplanation() const
{
    return checkExplanation(developerMode());
}

QStringList AccountPageView::banners() const
{
    QStringList shown;
    if (!m_window.message().isEmpty())
        shown.append(m_window.message());
    if (!m_account.message().isEmpty())
        shown.append(m_account.message());
    return shown;
}

void AccountPageView::signOut()
{
    // The window follows the account object once the session is gone.
    if (!busy())
        m_account.signOut();
}

void AccountPageView::pair()
{
    m_window.requestPair();
}

void AccountPageView::setDeveloperMode(bool on)
{
    m_window.setMessage(m_focus.setDeveloperMode(on));
}

void AccountPageView::sendTestNudge()
{
    m_window.setMessage(m_focus.sendTestNudge());
}

void AccountPageView::requestDeletion()
{
    if (offersDeletion() && !busy())
        m_window.setConfirmDelete(true);
}
