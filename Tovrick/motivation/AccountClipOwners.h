#pragma once

#include "Tovrick/motivation/MotivationAudioPorts.h"

class TovrickAccount;

// The clip owners as the account object knows them: its session feed and its valid user id.
class AccountClipOwners : public ClipOwnerFeed {
public:
    explicit AccountClipOwners(TovrickAccount& account) : m_account(account) { }

    void subscribe(QObject* context, std::function<void(const std::optional<QString>&)> receiver) override;
    std::optional<QString> userId() const override;

private:
    TovrickAccount& m_account;
};
