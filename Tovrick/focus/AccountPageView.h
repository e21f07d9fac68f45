#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

#include "shared/account/AccountSession.h"

class FocusCompanion;
class MacFocusView;
class TovrickAccount;

// The Account page's state and actions: who is signed in and how, signing out, pairing the phone,
// the focus engine's developer options and deleting the account. Keeps nothing of its own: it reads
// the account and the engine and writes the window's message and deletion request.
class AccountPageView : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY accountChanged)
    Q_PROPERTY(QString displayName READ displayName NOTIFY accountChanged)
    Q_PROPERTY(QString signedInWith READ signedInWith NOTIFY accountChanged)
    Q_PROPERTY(QString email READ email NOTIFY accountChanged)
    Q_PROPERTY(bool busy READ busy NOTIFY accountChanged)
    Q_PROPERTY(bool offersDeletion READ offersDeletion NOTIFY accountChanged)
    Q_PROPERTY(bool developerMode READ developerMode NOTIFY developerModeChanged)
    Q_PROPERTY(QString checkExplanation READ checkExplanation NOTIFY developerModeChanged)
    Q_PROPERTY(QStringList banners READ banners NOTIFY bannersChanged)

public:
    static inline const QString developerNote = QStringLiteral("4\u00d7 timer speed \u00b7 screen checks every 10 seconds");

    AccountPageView(MacFocusView& window, FocusCompanion& focus, TovrickAccount& account, QObject* parent = nullptr);

    // How the sign-in method is named after "Signed in with ".
    static QString methodName(const QString& authMethod);
    // Deleting is offered only for accounts made with Apple or Google.
    static bool offersDeletion(const std::optional<AccountSession>& session, bool signedIn);
    // The screen-check interval in seconds, and the sentence that gives it.
    static int checkInterval(bool developerMode);
    static QString checkExplanation(bool developerMode);

    bool signedIn() const;
    QString displayName() const;
    QString signedInWith() const;
    // Empty when the session has none.
    QString email() const;
    bool busy() const;
    bool offersDeletion() const;
    bool developerMode() const;
    QString checkExplanation() const;
    // Top to bottom: the window's message, then the account's.
    QStringList banners() const;

    Q_INVOKABLE void signOut();
    Q_INVOKABLE void pair();
    Q_INVOKABLE void setDeveloperMode(bool on);
    Q_INVOKABLE void sendTestNudge();
    Q_INVOKABLE void requestDeletion();

signals:
    void accountChanged();
    void developerModeChanged();
    void bannersChanged();

private:
    MacFocusView& m_window;
    FocusCompanion& m_focus;
    TovrickAccount& m_account;
};
