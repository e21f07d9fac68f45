#include "shared/account/DeviceVault.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "shared/account/DeviceVaults.h"
#include "shared/util/AppPaths.h"
#include "shared/util/Files.h"
#include "shared/util/Json.h"
#include "shared/util/Log.h"

namespace {

std::unique_ptr<DeviceVault>& sharedVault()
{
    static std::unique_ptr<DeviceVault> vault;
    return vault;
}

} // namespace

DeviceVault& DeviceVault::shared()
{
    auto& vault = sharedVault();
    if (!vault) {
        // The phone listener and the command-line link check both come here: the same environment
        // gives the same answer, so they read the same "mac-transport" key.
        if (SecretServiceVault::available())
            vault = std::make_unique<SecretServiceVault>(std::make_unique<FileDeviceVault>());
        else
            vault = std::make_unique<FileDeviceVault>();
        logline::info(QStringLiteral("device vault: %1").arg(vault->kind()));
    }
    return *vault;
}

void DeviceVault::replaceShared(std::unique_ptr<DeviceVault> vault)
{
    sharedVault() = std::move(vault);
}

FileDeviceVault::FileDeviceVault(QString path) : m_path(std::move(path))
{
    if (m_path.isEmpty()) {
        const QString folder = AppPaths::appFolder();
        if (!folder.isEmpty())
            m_path = QDir(folder).filePath(QStringLiteral("device-vault.json"));
    }
}

QString FileDeviceVault::kind() const
{
    return QStringLiteral("private file");
}

std::optional<QMap<QString, QByteArray>> FileDeviceVault::load() const
{
    QMap<QString, QByteArray> items;
    if (m_path.isEmpty() || !QFile::exists(m_path))
        return items;
    const auto bytes = files::read(m_path);
    if (!bytes)
        return std::nullopt;
    try {
        const Json document = json::parse(*bytes);
        json::requireObject(document);
        for (auto it = document.begin(); it != document.end(); ++it) {
            const QByteArray encoded = json::asString(it.value(), "vault item").toLatin1();
            const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded)
                return std::nullopt;
            items.insert(json::toQString(it.key()), *decoded);
        }
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
    return items;
}

bool FileDeviceVault::save(const QMap<QString, QByteArray>& items)
{
    if (m_path.isEmpty() || !AppPaths::ensurePrivateFolder(QFileInfo(m_path).absolutePath()))
        return false;
    Json document = Json::object();
    for (auto it = items.begin(); it != items.end(); ++it)
        document[json::fromQString(it.key())] = it.value().toBase64().toStdString();
    if (const auto error = files::writeAtomically(m_path, json::dumpBytes(document), true)) {
        logline::warning(QStringLiteral("device vault: could not write its file: %1").arg(*error));
        return false;
    }
    return true;
}

std::optional<QByteArray> FileDeviceVault::read(const QString& item)
{
    const auto items = load();
    if (!items) {
        logline::warning(QStringLiteral("device vault: its file cannot be read; nothing is taken from it"));
        return std::nullopt;
    }
    if (!items->contains(item))
        return std::nullopt;
    return items->value(item);
}

bool FileDeviceVault::write(const QString& item, const QByteArray& value)
{
    auto items = load();
    if (!items) {
        // Never replace what we cannot read without keeping a copy of it.
        if (!files::keepUnreadableCopy(m_path)) {
            logline::warning(QStringLiteral("device vault: its file cannot be read or copied aside; not writing"));
            return false;
        }
        logline::warning(QStringLiteral("device vault: its unreadable file was kept as %1.bad").arg(m_path));
        items.emplace();
    }
    items->insert(item, value);
    return save(*items);
}

bool FileDeviceVault::remove(const QString& item)
{
    auto items = load();
    if (!items)
        return false;
    if (!items->contains(item))
        return true;
    items->remove(item);
    return save(*items);
}

std::optional<QByteArray> MemoryDeviceVault::read(const QString& item)
{
    if (!m_items.contains(item))
        return std::nullopt;
    return m_items.value(item);
}

bool MemoryDeviceVault::write(const QString& item, const QByteArray& value)
{
    m_items.insert(item, value);
    return true;
}

bool MemoryDeviceVault::remove(const QString& item)
{
    m_items.remove(item);
    return true;
}
