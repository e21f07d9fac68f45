#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>

#include "shared/account/PairingCode.h"
#include "shared/link/PairingRecord.h"

class TovrickAccount;

// The add-this-computer window's state. Signed out, each opening asks the service for a new code,
// shows it for the phone to scan and asks every few seconds whether the phone approved it; on
// approval the account adopts the session. Signed in, it shows the phone-link code instead, for a
// short while at a time. Nothing is asked of the service while the window is closed.
class PairingView : public QObject {
    Q_OBJECT
    Q_PROPERTY(bool signedIn READ signedIn NOTIFY changed)
    Q_PROPERTY(bool starting READ starting NOTIFY changed)
    Q_PROPERTY(QString accountCode READ accountCode NOTIFY changed)
    Q_PROPERTY(QString code READ code NOTIFY changed)
    Q_PROPERTY(QString expiry READ expiry NOTIFY changed)
    Q_PROPERTY(QString message READ message NOTIFY changed)
    Q_PROPERTY(bool canRetry READ canRetry NOTIFY changed)
    Q_PROPERTY(QString linkCode READ linkCode NOTIFY changed)
    Q_PROPERTY(QString linkProblem READ linkProblem NOTIFY changed)

public:
    struct Timing {
        std::chrono::milliseconds pollInterval {2000};
        // The phone-link code carries the link's key: shown this long at most, then hidden.
        std::chrono::milliseconds linkCodeShown {std::chrono::minutes(2)};
    };

    // `record` gives this computer's phone-link record when the link code is shown.
    PairingView(TovrickAccount& account, std::function<PairingRecord()> record, QObject* parent = nullptr);
    ~PairingView() override;

    // The wall clock, milliseconds since 1970; replaceable so tests can let codes expire.
    std::function<double()> nowMs;
    void setTiming(const Timing& timing) { m_timing = timing; }

    // The window was shown (again) or hidden.
    void opened();
    void closed();
    bool isOpen() const { return m_open; }

    bool signedIn() const;
    // Waiting for the service's code.
    bool starting() const { return m_starting; }
    // What the phone scans to add this computer; empty without a code.
    QString accountCode() const;
    QString code() const { return m_ticket ? m_ticket->code : QString(); }
    QString expiry() const;
    // The last failure, in the account's words; empty when the last request went through.
    QString message() const { return m_message; }
    bool canRetry() const { return !signedIn() && !m_starting && !m_ticket; }
    // What the phone scans to reach this computer; empty while hidden.
    QString linkCode() const { return m_linkCode; }
    // Why there is no link code to show; empty when there is one.
    QString linkProblem() const { return m_linkProblem; }

    // A fresh code (after a failure).
    Q_INVOKABLE void retry();
    // Shows the phone-link code again, for another short while.
    Q_INVOKABLE void showLinkCode();
    void hideLinkCode();

signals:
    void changed();

private:
    void begin();
    void stop();
    void accountChanged();
    QCoro::Task<> startCode(quint64 generation);
    QCoro::Task<> pollOnce(quint64 generation);
    bool current(quint64 generation) const;

    TovrickAccount& m_account;
    std::function<PairingRecord()> m_record;
    Timing m_timing;
    bool m_open = false;
    bool m_wasSignedIn = false;
    // Every new code, closing and sign-in moves it on; an answer for an older one is dropped.
    quint64 m_generation = 0;
    bool m_starting = false;
    std::optional<PairingTicket> m_ticket;
    QString m_message;
    QTimer m_pollTimer;
    QTimer m_linkTimer;
    QString m_linkCode;
    QString m_linkProblem;
};
