// The store behind the real account object (over a vault in memory): what a sign-in, an expired
// session and a sign-out do to the folder in use.
#include <QCoreApplication>
#include <QDateTime>
#include <QMap>
#include <gtest/gtest.h>

#include "StoreFakes.h"
#include "Tovrick/motivation/AccountClipOwners.h"
#include "Tovrick/motivation/MotivationAudioStore.h"
#include "shared/account/DeviceVault.h"
#include "shared/account/TovrickAccount.h"

namespace {

class MemoryVault : public DeviceVault {
public:
    std::optional<QByteArray> read(const QString& item) override
    {
        return items.contains(item) ? std::optional(items.value(item)) : std::nullopt;
    }
    bool write(const QString& item, const QByteArray& value) override
    {
        items.insert(item, value);
        return true;
    }
    bool remove(const QString& item) override { return items.remove(item) > 0; }
    QString kind() const override { return QStringLiteral("memory"); }

    QMap<QString, QByteArray> items;
};

AccountSession session(const QString& userId, double expiresInMs)
{
    AccountSession value;
    value.userId = userId;
    value.deviceId = QStringLiteral("device");
    value.deviceToken = QStringLiteral("tvk_token");
    value.displayName = QStringLiteral("Name");
    value.expiresAt = double(QDateTime::currentMSecsSinceEpoch()) + expiresInMs;
    value.authMethod = QStringLiteral("google");
    return value;
}

void drain()
{
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

} // namespace

TEST(AccountOwners, TheStoreFollowsTheAccountsSessions)
{
    MemoryVault vault;
    TovrickAccount account(vault);
    account.adoptSession(session(QStringLiteral("acc-1"), 3600e3));

    auto speech = std::make_unique<FakeSpeech>();
    auto spoken = speech->state;
    MotivationAudioStore store(MotivationAudioStore::Ports {
        std::make_unique<AccountClipOwners>(account), std::make_unique<FakePlayer>(), std::move(speech),
        [](qsizetype) { return qsizetype(0); } });
    EXPECT_EQ(store.owner(), QStringLiteral("acc-1"));

    store.nudge();
    drain();
    EXPECT_EQ(spoken->spoken.size(), 1);

    // Signing out silences the clip and switches to the signed-out folder once the call returns.
    account.clearSession();
    drain();
    EXPECT_FALSE(store.owner());
    EXPECT_FALSE(store.playingID());
    store.nudge();
    EXPECT_FALSE(store.playingID());

    // An expired session is followed as delivered, but nudges and refreshes go by validity.
    account.adoptSession(session(QStringLiteral("acc-2"), -1000));
    drain();
    EXPECT_EQ(store.owner(), QStringLiteral("acc-2"));
    store.nudge();
    EXPECT_FALSE(store.owner());
    EXPECT_FALSE(store.playingID());
}
