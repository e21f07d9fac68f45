#pragma once

#include <QMap>

#include <memory>

#include "shared/account/DeviceVault.h"
#include "shared/util/Json.h"

// The items in one JSON file (mode 0600) in a private folder (mode 0700); values are stored base64.
// Items are read one by one: one that cannot be decoded reads as missing, is written back unchanged
// until it is replaced or removed, and costs the others nothing. A file that cannot be read at all
// fails every read and is kept aside as "<file>.bad" before a write replaces it.
class FileDeviceVault : public DeviceVault {
public:
    // Default: "device-vault.json" in the app folder.
    explicit FileDeviceVault(QString path = {});

    VaultRead read(const QString& item) override;
    bool write(const QString& item, const QByteArray& value) override;
    bool remove(const QString& item) override;
    QString kind() const override;
    const QString& path() const { return m_path; }

private:
    struct Contents {
        QMap<QString, QByteArray> items;
        Json damaged = Json::object(); // the entries that could not be decoded, as they were
    };
    // The stored items; none when the file exists but cannot be read or is not a JSON object.
    std::optional<Contents> load() const;
    // What a write starts from: an unreadable file is kept aside first; none when no copy could be
    // made.
    std::optional<Contents> loadForChange();
    bool save(const Contents& contents);
    QString m_path;
};

// The Secret Service on the session bus (libsecret), one item per name. Every call runs on a worker
// thread and is given up after a few seconds, so a keyring that wants a prompt cannot hang the
// caller; after such a time-out every read fails and every write and removal fails, at once.
class SecretServiceVault : public DeviceVault {
public:
    // `fallback` is read for items that the Secret Service does not hold yet (left by an earlier
    // run that used the file); such an item moves into the Secret Service on first read.
    explicit SecretServiceVault(std::unique_ptr<DeviceVault> fallback = nullptr);
    ~SecretServiceVault() override;

    VaultRead read(const QString& item) override;
    bool write(const QString& item, const QByteArray& value) override;
    bool remove(const QString& item) override;
    QString kind() const override;

    // True when the service's name is owned on the session bus and its default collection exists
    // and is unlocked; asks the bus with a short time-out and never starts the service.
    static bool available();

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Items in memory only: for tests of other parts of the program.
class MemoryDeviceVault : public DeviceVault {
public:
    VaultRead read(const QString& item) override;
    bool write(const QString& item, const QByteArray& value) override;
    bool remove(const QString& item) override;
    QString kind() const override { return QStringLiteral("memory"); }

private:
    QMap<QString, QByteArray> m_items;
};
