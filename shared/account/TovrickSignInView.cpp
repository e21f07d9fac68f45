#include "shared/account/TovrickSignInView.h"

#include "shared/account/TovrickAccount.h"

TovrickSignInView::TovrickSignInView(TovrickAccount* account, QObject* parent)
    : QObject(parent), m_account(account ? *account : TovrickAccount::shared())
{
    for (auto signal : { &TovrickAccount::busyChanged, &TovrickAccount::messageChanged, &TovrickAccount::sessionChanged })
        connect(&m_account, signal, this, &TovrickSignInView::changed);
}

bool TovrickSignInView::busy() const
{
    return m_account.busy();
}

bool TovrickSignInView::configured() const
{
    return m_account.isConfigured();
}

bool TovrickSignInView::signInEnabled() const
{
    return !busy() && configured();
}

bool TovrickSignInView::pairEnabled() const
{
    return !busy();
}

QStringList TovrickSignInView::banners() const
{
    QStringList shown;
    if (!m_account.message().isEmpty())
        shown.append(m_account.message());
    if (!configured())
        shown.append(notConfiguredText);
    return shown;
}

// The sign-ins report through the account object; nothing here waits for them.
void TovrickSignInView::signInWithGoogle()
{
    if (signInEnabled())
        m_account.signInWithGoogle();
}

void TovrickSignInView::signInWithApple()
{
    if (signInEnabled())
        m_account.signInWithAppleWeb();
}

void TovrickSignInView::requestPair()
{
    if (pairEnabled() && pair)
        pair();
}
