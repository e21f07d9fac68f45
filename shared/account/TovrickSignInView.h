#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class TovrickAccount;

// The account sign-in view's state and actions: two web sign-ins, the account's progress and
// messages, and the way to add this computer from the phone instead. It keeps no state of its own:
// everything follows the account object, and the sign-ins run in it.
class TovrickSignInView : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool busy READ busy NOTIFY changed)
    Q_PROPERTY(bool configured READ configured NOTIFY changed)
    Q_PROPERTY(bool signInEnabled READ signInEnabled NOTIFY changed)
    Q_PROPERTY(bool pairEnabled READ pairEnabled NOTIFY changed)
    Q_PROPERTY(QStringList banners READ banners NOTIFY changed)

public:
    static inline const QString notConfiguredText = QStringLiteral("The account service isn\u2019t configured for this build yet.");

    // Bound to the shared account object unless given one.
    explicit TovrickSignInView(TovrickAccount* account = nullptr, QObject* parent = nullptr);

    // Opens the add-this-computer window.
    std::function<void()> pair;

    bool busy() const;
    // A base address of the product's API is known.
    bool configured() const;
    // Both web sign-ins: neither while an account operation runs nor without an address.
    bool signInEnabled() const;
    // "Pair with iPhone instead": only not while an account operation runs.
    bool pairEnabled() const;
    // The banners, top to bottom: the account's message, then the missing address.
    QStringList banners() const;

    Q_INVOKABLE void signInWithGoogle();
    Q_INVOKABLE void signInWithApple();
    Q_INVOKABLE void requestPair();

signals:
    void changed();

private:
    TovrickAccount& m_account;
};
