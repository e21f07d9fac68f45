#include "shared/util/Json.h"

#include <cmath>

namespace json {

namespace {

std::string keyText(std::string_view key)
{
    std::string text(1, '"');
    text.append(key);
    text.push_back('"');
    return text;
}

[[noreturn]] void wrongType(std::string_view what, const char* expected)
{
    throw JsonDecodeError(std::string(what) + " is not " + expected);
}

void checkFinite(const Json& value)
{
    switch (value.type()) {
    case Json::value_t::number_float:
        if (!std::isfinite(value.get<double>()))
            throw JsonEncodeError("a number is not finite");
        break;
    case Json::value_t::object:
    case Json::value_t::array:
        for (const auto& item : value)
            checkFinite(item);
        break;
    default:
        break;
    }
}

} // namespace

Json parse(const QByteArray& bytes)
{
    return parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())));
}

Json parse(std::string_view text)
{
    try {
        return Json::parse(text.begin(), text.end());
    } catch (const Json::exception& error) {
        throw JsonDecodeError(std::string("not JSON: ") + error.what());
    }
}

std::string dump(const Json& value)
{
    checkFinite(value);
    // Invalid UTF-8 in a text is replaced rather than thrown as a library error in the middle of a write.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

QByteArray dumpBytes(const Json& value)
{
    return QByteArray::fromStdString(dump(value));
}

Json number(double value)
{
    if (!std::isfinite(value))
        throw JsonEncodeError("a number is not finite");
    return Json(value);
}

QString toQString(const std::string& utf8)
{
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string fromQString(const QString& text)
{
    return text.toStdString();
}

const Json& requireObject(const Json& document, std::string_view what)
{
    if (!document.is_object())
        wrongType(what, "an object");
    return document;
}

const Json& requireArray(const Json& document, std::string_view what)
{
    if (!document.is_array())
        wrongType(what, "an array");
    return document;
}

const Json& required(const Json& object, std::string_view key)
{
    requireObject(object);
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        throw JsonDecodeError("missing key " + keyText(key));
    return *found;
}

double asNumber(const Json& value, std::string_view what)
{
    if (!value.is_number())
        wrongType(what, "a number");
    return value.get<double>();
}

QString asString(const Json& value, std::string_view what)
{
    if (!value.is_string())
        wrongType(what, "a string");
    return toQString(value.get_ref<const std::string&>());
}

double requireNumber(const Json& object, std::string_view key)
{
    return asNumber(required(object, key), keyText(key));
}

std::int64_t requireInteger(const Json& object, std::string_view key)
{
    const Json& value = required(object, key);
    // The library counts unsigned values as integers too: look at them first, or a huge one wraps.
    if (value.is_number_unsigned()) {
        const auto wide = value.get<std::uint64_t>();
        if (wide > static_cast<std::uint64_t>(INT64_MAX))
            throw JsonDecodeError(keyText(key) + " is out of range");
        return static_cast<std::int64_t>(wide);
    }
    if (value.is_number_integer())
        return value.get<std::int64_t>();
    wrongType(keyText(key), "an integer");
}

bool requireBool(const Json& object, std::string_view key)
{
    const Json& value = required(object, key);
    if (!value.is_boolean())
        wrongType(keyText(key), "a boolean");
    return value.get<bool>();
}

QString requireString(const Json& object, std::string_view key)
{
    return asString(required(object, key), keyText(key));
}

const Json& requireObjectAt(const Json& object, std::string_view key)
{
    return requireObject(required(object, key), keyText(key));
}

const Json& requireArrayAt(const Json& object, std::string_view key)
{
    return requireArray(required(object, key), keyText(key));
}

const Json* optional(const Json& object, std::string_view key)
{
    requireObject(object);
    auto found = object.find(key);
    if (found == object.end() || found->is_null())
        return nullptr;
    return &*found;
}

std::optional<double> optionalNumber(const Json& object, std::string_view key)
{
    if (!optional(object, key))
        return std::nullopt;
    return requireNumber(object, key);
}

std::optional<std::int64_t> optionalInteger(const Json& object, std::string_view key)
{
    if (!optional(object, key))
        return std::nullopt;
    return requireInteger(object, key);
}

std::optional<bool> optionalBool(const Json& object, std::string_view key)
{
    if (!optional(object, key))
        return std::nullopt;
    return requireBool(object, key);
}

std::optional<QString> optionalString(const Json& object, std::string_view key)
{
    if (!optional(object, key))
        return std::nullopt;
    return requireString(object, key);
}

} // namespace json
