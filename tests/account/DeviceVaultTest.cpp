#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "shared/account/DeviceVaults.h"
#include "shared/util/Crypto.h"
#include "shared/util/Files.h"

namespace {

const QByteArray kKey = QByteArray::fromHex("00ff10203040506070809a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

unsigned modeOf(const QString& path)
{
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

// Every kind of vault keeps binary values, replaces them and forgets them.
void expectRoundTrips(DeviceVault& vault, const QString& item)
{
    EXPECT_TRUE(vault.read(item).isMissing());
    for (const QByteArray& value : {kKey, QByteArray("second\nvalue"), QByteArray()}) {
        ASSERT_TRUE(vault.write(item, value));
        EXPECT_EQ(vault.read(item).found(), value);
    }
    EXPECT_TRUE(vault.remove(item));
    EXPECT_TRUE(vault.read(item).isMissing());
    EXPECT_TRUE(vault.remove(item)) << "removing what is gone is not a failure";
}

} // namespace

TEST(FileVault, KeepsItemsInAPrivateFileInAPrivateFolder)
{
    QTemporaryDir root;
    const QString path = QDir(root.path()).filePath(QStringLiteral("app/device-vault.json"));
    FileDeviceVault vault(path);
    expectRoundTrips(vault, QStringLiteral("mac-transport"));

    ASSERT_TRUE(vault.write(QStringLiteral("mac-transport"), kKey));
    EXPECT_EQ(modeOf(path), 0600);
    EXPECT_EQ(modeOf(QFileInfo(path).absolutePath()), 0700);
    // Another vault over the same file (the link check, a later run) reads the same key.
    EXPECT_EQ(FileDeviceVault(path).read(QStringLiteral("mac-transport")).found(), kKey);
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

TEST(FileVault, AnUnreadableFileFailsReadsAndIsKeptAsideBeforeItIsReplaced)
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("device-vault.json"));
    for (const QByteArray& broken : {QByteArray("[1,2]"), QByteArray("\x00\x01garbage", 9),
                                     QByteArray("{\"mac-transport\": \"AP8QIDBA")}) {
        QFile::remove(path + QStringLiteral(".bad"));
        writeFile(path, broken);
        FileDeviceVault vault(path);
        EXPECT_TRUE(vault.read(QStringLiteral("session")).isFailed()) << "not the same as missing";
        EXPECT_FALSE(vault.remove(QStringLiteral("session"))) << "nothing is removed from a file we cannot read";
        ASSERT_TRUE(vault.write(QStringLiteral("session"), "new"));
        QFile kept(path + QStringLiteral(".bad"));
        ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
        EXPECT_EQ(kept.readAll(), broken);
        EXPECT_EQ(vault.read(QStringLiteral("session")).found(), QByteArray("new"));
    }
}

TEST(FileVault, ADamagedItemCostsNoOtherItem)
{
    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("device-vault.json"));
    const QByteArray stored = "{\"session\": \"c2Vzc2lvbg==\", \"extra\": \"not base64 !!\", \"number\": 7, "
                              "\"mac-transport\": \"" + kKey.toBase64() + "\", \"list\": [\"AA==\"]}";
    writeFile(path, stored);
    FileDeviceVault vault(path);
    EXPECT_EQ(vault.read(QStringLiteral("session")).found(), QByteArray("session"));
    EXPECT_EQ(vault.read(QStringLiteral("mac-transport")).found(), kKey);
    for (const char* damaged : {"extra", "number", "list"})
        EXPECT_TRUE(vault.read(QString::fromLatin1(damaged)).isMissing()) << damaged;

    // A write keeps every item, the damaged ones as they were, until they are replaced or removed.
    ASSERT_TRUE(vault.write(QStringLiteral("installation"), "id"));
    ASSERT_TRUE(vault.write(QStringLiteral("number"), "8"));
    ASSERT_TRUE(vault.remove(QStringLiteral("list")));
    FileDeviceVault later(path);
    EXPECT_EQ(later.read(QStringLiteral("session")).found(), QByteArray("session"));
    EXPECT_EQ(later.read(QStringLiteral("mac-transport")).found(), kKey);
    EXPECT_EQ(later.read(QStringLiteral("installation")).found(), QByteArray("id"));
    EXPECT_EQ(later.read(QStringLiteral("number")).found(), QByteArray("8"));
    const Json onDisk = json::parse(*files::read(path));
    EXPECT_EQ(onDisk.value("extra", Json()), "not base64 !!");
    EXPECT_FALSE(onDisk.contains("list"));
    EXPECT_FALSE(QFile::exists(path + QStringLiteral(".bad")));
}

TEST(FileVault, AWriteThatCannotLandIsReported)
{
    QTemporaryDir root;
    // A folder in the file's place makes the atomic write fail (root ignores modes).
    ASSERT_TRUE(QDir(root.path()).mkpath(QStringLiteral("device-vault.json")));
    EXPECT_FALSE(FileDeviceVault(root.filePath(QStringLiteral("device-vault.json"))).write(QStringLiteral("session"), "new"));
}

TEST(SecretService, RoundTripsIsSeenByASecondVaultAndTakesOverAnItemLeftInTheFile)
{
    if (!SecretServiceVault::available())
        GTEST_SKIP() << "no unlocked Secret Service on the session bus (scripts/with-test-services starts one)";
    // Tests of several processes share one keyring: each uses names of its own.
    const QString item = QStringLiteral("test-") + crypto::randomBytes(6).toHex();
    SecretServiceVault plain;
    expectRoundTrips(plain, item);

    QTemporaryDir root;
    const QString path = root.filePath(QStringLiteral("device-vault.json"));
    ASSERT_TRUE(FileDeviceVault(path).write(item, kKey));
    SecretServiceVault vault(std::make_unique<FileDeviceVault>(path));
    EXPECT_EQ(vault.read(item).found(), kKey);
    EXPECT_TRUE(FileDeviceVault(path).read(item).isMissing()) << "one copy of a secret, not two";
    EXPECT_EQ(SecretServiceVault().read(item).found(), kKey);
    EXPECT_TRUE(vault.remove(item));
}

TEST(SharedVault, PrefersTheSecretService)
{
    EXPECT_EQ(DeviceVault::shared().kind(),
              SecretServiceVault::available() ? QStringLiteral("Secret Service") : QStringLiteral("private file"));
}
