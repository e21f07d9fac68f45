// The store of the running program and its real collaborators. Kept apart from the store itself so
// that the store's logic links without the account service.
#include "Tovrick/motivation/AccountClipOwners.h"

#include <QRandomGenerator>

#include "Tovrick/motivation/EspeakVoice.h"
#include "Tovrick/motivation/GstClipPlayer.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "shared/account/TovrickAccount.h"

void AccountClipOwners::subscribe(QObject* context, std::function<void(const std::optional<QString>&)> receiver)
{
    m_account.subscribeSession(context, [receiver = std::move(receiver)](const std::optional<AccountSession>& session) {
        receiver(session ? std::optional(session->userId) : std::nullopt);
    });
}

std::optional<QString> AccountClipOwners::userId() const
{
    return m_account.userId();
}

MotivationAudioStore& MotivationAudioStore::shared()
{
    // Lives for the whole run, like the account it follows.
    static MotivationAudioStore* store = new MotivationAudioStore(Ports {
        std::make_unique<AccountClipOwners>(TovrickAccount::shared()),
        std::make_unique<GstClipPlayer>(),
        std::make_unique<EspeakVoice>(),
        [](qsizetype count) { return qsizetype(QRandomGenerator::global()->bounded(qint64(count))); },
    });
    return *store;
}
