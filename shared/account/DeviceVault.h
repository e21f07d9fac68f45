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

// What reading one item gave: its value, no such item, or no answer from the store. A failed read says
// nothing about the item: whoever would make a new one when it is missing must not do so then.
class VaultRead {
public:
    enum class Outcome { found, missing, failed };

    static VaultRead withValue(QByteArray value) { return VaultRead(Outcome::found, std::move(value)); }
    static VaultRead nothing() { return VaultRead(Outcome::missing, {}); }
    static VaultRead failure() { return VaultRead(Outcome::failed, {}); }

    Outcome outcome() const { return m_outcome; }
    // The value when found; none when missing or failed.
    std::optional<QByteArray> found() const
    {
        return m_outcome == Outcome::found ? std::optional<QByteArray>(m_value) : std::nullopt;
    }
    bool isMissing() const { return m_outcome == Outcome::missing; }
    bool isFailed() const { return m_outcome == Outcome::failed; }

private:
    VaultRead(Outcome outcome, QByteArray value) : m_outcome(outcome), m_value(std::move(value)) {}
    Outcome m_outcome;
    QByteArray m_value;
};

// The device's secrets: the keychain items "session", "installation" and "mac-transport".
// Backed by the Secret Service where one answers, else by a 0600 file in the 0700 app folder.
class DeviceVault {
public:
    virtual ~DeviceVault() = default;

    virtual VaultRead read(const QString& item) = 0;
    virtual bool write(const QString& item, const QByteArray& value) = 0;
    virtual bool remove(const QString& item) = 0;
    // Which store is in use, for the log: never the secrets themselves.
    virtual QString kind() const = 0;

    // The process-wide vault, chosen on first use.
    static DeviceVault& shared();
    // Replaces the process-wide vault (tests, command-line checks).
    static void replaceShared(std::unique_ptr<DeviceVault> vault);
};
