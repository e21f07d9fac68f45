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

std::optional<FileDeviceVault::Contents> FileDeviceVault::load() const
{
    Contents contents;
    if (m_path.isEmpty() || !QFile::exists(m_path))
        return contents;
    const auto bytes = files::read(m_path);
    if (!bytes)
        return std::nullopt;
    Json document;
    try {
        document = json::parse(*bytes);
        json::requireObject(document);
    } catch (const JsonDecodeError&) {
        return std::nullopt;
    }
    // One damaged item must not cost the others (the session, the phone-link key).
    for (auto it = document.begin(); it != document.end(); ++it) {
        const QString name = json::toQString(it.key());
        std::optional<QByteArray> decoded;
        try {
            const QByteArray encoded = json::asString(it.value(), "vault item").toLatin1();
            if (const auto result = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors))
                decoded = *result;
        } catch (const JsonDecodeError&) {
        }
        if (!decoded) {
            logline::warning(QStringLiteral("device vault: the item \"%1\" cannot be decoded; kept as it is").arg(name));
            contents.damaged[it.key()] = it.value();
            continue;
        }
        contents.items.insert(name, *decoded);
    }
    return contents;
}

bool FileDeviceVault::save(const Contents& contents)
{
    if (m_path.isEmpty() || !AppPaths::ensurePrivateFolder(QFileInfo(m_path).absolutePath()))
        return false;
    Json document = contents.damaged;
    for (auto it = contents.items.begin(); it != contents.items.end(); ++it)
        document[json::fromQString(it.key())] = it.value().toBase64().toStdString();
    if (const auto error = files::writeAtomically(m_path, json::dumpBytes(document), true)) {
        logline::warning(QStringLiteral("device vault: could not write its file: %1").arg(*error));
        return false;
    }
    return true;
}

std::optional<FileDeviceVault::Contents> FileDeviceVault::loadForChange()
{
    if (auto contents = load())
        return contents;
    // Never replace what we cannot read without keeping a copy of it.
    if (!files::keepUnreadableCopy(m_path)) {
        logline::warning(QStringLiteral("device vault: its file cannot be read or copied aside; not changing it"));
        return std::nullopt;
    }
    logline::warning(QStringLiteral("device vault: its unreadable file was kept as %1.bad").arg(m_path));
    return Contents {};
}

VaultRead FileDeviceVault::read(const QString& item)
{
    const auto contents = load();
    if (!contents) {
        logline::warning(QStringLiteral("device vault: its file cannot be read; nothing is taken from it"));
        return VaultRead::failure();
    }
    if (!contents->items.contains(item))
        return VaultRead::nothing();
    return VaultRead::withValue(contents->items.value(item));
}

bool FileDeviceVault::write(const QString& item, const QByteArray& value)
{
    auto contents = loadForChange();
    if (!contents)
        return false;
    contents->damaged.erase(json::fromQString(item));
    contents->items.insert(item, value);
    return save(*contents);
}

bool FileDeviceVault::remove(const QString& item)
{
    auto contents = load();
    if (!contents)
        return false;
    const bool damaged = contents->damaged.erase(json::fromQString(item)) > 0;
    if (!contents->items.remove(item) && !damaged)
        return true;
    return save(*contents);
}

VaultRead MemoryDeviceVault::read(const QString& item)
{
    if (!m_items.contains(item))
        return VaultRead::nothing();
    return VaultRead::withValue(m_items.value(item));
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
