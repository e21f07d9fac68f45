#include "Tovrick/codex/CodexJson.h"

#include <cmath>

namespace codexjson {

std::optional<QString> string(const Json& object, const char* key)
{
    if (!object.is_object())
        return std::nullopt;
    const auto value = object.find(key);
    if (value == object.end() || !value->is_string())
        return std::nullopt;
    return json::toQString(value->get_ref<const std::string&>());
}

const Json* object(const Json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto value = object.find(key);
    return value != object.end() && value->is_object() ? &*value : nullptr;
}

const Json* arrayOfObjects(const Json& object, const char* key)
{
    if (!object.is_object())
        return nullptr;
    const auto value = object.find(key);
    if (value == object.end() || !value->is_array())
        return nullptr;
    for (const Json& element : *value)
        if (!element.is_object())
            return nullptr;
    return &*value;
}

QString printedId(const Json& id)
{
    if (id.is_string())
        return json::toQString(id.get_ref<const std::string&>());
    if (id.is_number_unsigned())
        return QString::number(id.get<quint64>());
    if (id.is_number_integer())
        return QString::number(id.get<qint64>());
    if (id.is_number_float()) {
        const double value = id.get<double>();
        if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15)
            return QString::number(static_cast<qint64>(value));
        return QString::number(value, 'g', 17);
    }
    return json::toQString(id.dump(-1, ' ', false, Json::error_handler_t::replace));
}

Json grantedPermissions(const Json& params)
{
    Json granted = Json::object();
    if (const Json* permissions = object(params, "permissions"))
        for (const auto& [key, value] : permissions->items())
            if (!value.is_null())
                json::appendNew(granted, key, value);
    return granted;
}

} // namespace codexjson
