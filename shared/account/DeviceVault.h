#pragma once

#include <QByteArray>
#include <QString>

#include <memory>
#include <optional>

// The names of the items the program keeps.
namespace vaultItem {
inline constexpr char session[] = "session";           // the signed-in AccountSession as JSON
inline constexpr char installation[] = "installation"; // this installation's id, made on first use
inline constexpr char macTransport[] = "mac-transport"; // the 32-byte phone-link key
} // namespace vaultItem

// The device's secrets: the keychain items "session", "installation" and "mac-transport".
// Backed by the Secret Service where one answers, else by a 0600 file in the 0700 app folder.
class DeviceVault {
public:
    virtual ~DeviceVault() = default;

    virtual std::optional<QByteArray> read(const QString& item) = 0;
    virtual bool write(const QString& item, const QByteArray& value) = 0;
    virtual bool remove(const QString& item) = 0;
    // Which store is in use, for the log: never the secrets themselves.
    virtual QString kind() const = 0;

    // The process-wide vault, chosen on first use.
    static DeviceVault& shared();
    // Replaces the process-wide vault (tests, command-line checks).
    static void replaceShared(std::unique_ptr<DeviceVault> vault);
};
