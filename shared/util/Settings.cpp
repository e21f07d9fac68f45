#include "shared/util/Settings.h"

#include <cmath>

namespace {

std::unique_ptr<Settings>& instance()
{
    static std::unique_ptr<Settings> settings;
    return settings;
}

} // namespace

Settings::Settings(std::unique_ptr<QSettings> store) : m_store(std::move(store)) {}

Settings& Settings::shared()
{
    auto& settings = instance();
    if (!settings)
        settings.reset(new Settings(std::make_unique<QSettings>(
            QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tovrick"), QStringLiteral("Tovrick"))));
    return *settings;
}

void Settings::useFile(const QString& iniPath)
{
    instance().reset(new Settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat)));
}

std::optional<bool> Settings::boolValue(const QString& key) const
{
    const QVariant value = m_store->value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == QLatin1String("true"))
            return true;
        if (text == QLatin1String("false"))
            return false;
    }
    return std::nullopt;
}

void Settings::setBool(const QString& key, bool value)
{
    m_store->setValue(key, value);
    emit changed(key);
}

std::optional<QString> Settings::stringValue(const QString& key) const
{
    const QVariant value = m_store->value(key);
    if (value.typeId() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void Settings::setString(const QString& key, const QString& value)
{
    m_store->setValue(key, value);
    emit changed(key);
}

std::optional<double> Settings::numberValue(const QString& key) const
{
    const QVariant value = m_store->value(key);
    bool ok = false;
    const double number = value.typeId() == QMetaType::QString ? value.toString().toDouble(&ok)
                                                                : value.toDouble(&ok);
    if (!ok || !std::isfinite(number))
        return std::nullopt;
    return number;
}

void Settings::setNumber(const QString& key, double value)
{
    m_store->setValue(key, value);
    emit changed(key);
}

std::optional<QStringList> Settings::stringList(const QString& key) const
{
    const QVariant value = m_store->value(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    if (value.typeId() == QMetaType::QVariantList) {
        QStringList list;
        for (const QVariant& item : value.toList()) {
            if (item.typeId() != QMetaType::QString)
                return std::nullopt;
            list.append(item.toString());
        }
        return list;
    }
    // The INI backend reads a one-element list back as a plain text.
    if (value.typeId() == QMetaType::QString)
        return QStringList { value.toString() };
    return std::nullopt;
}

void Settings::setStringList(const QString& key, const QStringList& value)
{
    m_store->setValue(key, value);
    emit changed(key);
}

std::optional<QByteArray> Settings::bytesValue(const QString& key) const
{
    const QVariant value = m_store->value(key);
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray();
    if (value.typeId() == QMetaType::QString)
        return value.toString().toUtf8();
    return std::nullopt;
}

void Settings::setBytes(const QString& key, const QByteArray& value)
{
    m_store->setValue(key, value);
    emit changed(key);
}

bool Settings::contains(const QString& key) const
{
    return m_store->contains(key);
}

void Settings::remove(const QString& key)
{
    m_store->remove(key);
    emit changed(key);
}

void Settings::sync()
{
    m_store->sync();
}

bool Settings::followMouse() const
{
    return boolValue(QStringLiteral("followMouse")).value_or(true);
}

bool Settings::computerControl() const
{
    return boolValue(QStringLiteral("computerControl")).value_or(true);
}

void Settings::setComputerControl(bool on)
{
    setBool(QStringLiteral("computerControl"), on);
}
