#pragma once

#include <QMap>

#include "shared/account/DeviceVault.h"

// The vault in memory, with a switch that makes every write fail.
class MemoryVault : public DeviceVault {
public:
    std::optional<QByteArray> read(const QString& item) override
    {
        if (!items.contains(item))
            return std::nullopt;
        return items.value(item);
    }
    bool write(const QString& item, const QByteArray& value) override
    {
        if (failWrites)
            return false;
        items.insert(item, value);
        return true;
    }
    bool remove(const QString& item) override { return items.remove(item) > 0; }
    QString kind() const override { return QStringLiteral("memory"); }

    QMap<QString, QByteArray> items;
    bool failWrites = false;
};

// Installs a fresh MemoryVault as the shared vault and returns it.
inline MemoryVault& installMemoryVault()
{
    auto vault = std::make_unique<MemoryVault>();
    MemoryVault& installed = *vault;
    DeviceVault::replaceShared(std::move(vault));
    return installed;
}
