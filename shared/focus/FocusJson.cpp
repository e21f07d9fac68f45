#include "shared/focus/FocusJson.h"

#include "shared/util/Uuid.h"

#include <charconv>
#include <cmath>

namespace focusjson {

namespace {

// Control characters as \u00xx, in lowercase as the document writer has them.
void appendControlEscape(std::string& out, char16_t unit)
{
    out.append("\\u00");
    out.push_back("0123456789abcdef"[(unit >> 4) & 0xF]);
    out.push_back("0123456789abcdef"[unit & 0xF]);
}

void appendUtf8(std::string& out, char32_t code)
{
    if (code < 0x80) {
        out.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (code >> 6)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else if (code < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (code >> 12)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (code >> 18)));
        out.push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

} // namespace

void Writer::beforeValue()
{
    if (needsComma_)
        out_.push_back(',');
    needsComma_ = true;
}

void Writer::beginObject()
{
    beforeValue();
    out_.push_back('{');
    needsComma_ = false;
}

void Writer::endObject()
{
    out_.push_back('}');
    needsComma_ = true;
}

void Writer::beginArray()
{
    beforeValue();
    out_.push_back('[');
    needsComma_ = false;
}

void Writer::endArray()
{
    out_.push_back(']');
    needsComma_ = true;
}

void Writer::key(std::string_view name)
{
    if (needsComma_)
        out_.push_back(',');
    out_.push_back('"');
    out_.append(name);
    out_.append("\":");
    needsComma_ = false;
}

void Writer::number(double value)
{
    if (!std::isfinite(value))
        throw JsonEncodeError("a number is not finite");
    beforeValue();
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    const std::string_view digits(buffer, static_cast<std::size_t>(result.ptr - buffer));
    out_.append(digits);
    // Whole numbers keep a fraction, as the document writer prints them.
    if (digits.find_first_of(".e") == std::string_view::npos)
        out_.append(".0");
}

void Writer::integer(std::int64_t value)
{
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out_.append(buffer, result.ptr);
}

void Writer::boolean(bool value)
{
    beforeValue();
    out_.append(value ? "true" : "false");
}

void Writer::textKey(const QString& name)
{
    if (needsComma_)
        out_.push_back(',');
    appendQuoted(name);
    out_.push_back(':');
    needsComma_ = false;
}

void Writer::string(const QString& value)
{
    beforeValue();
    appendQuoted(value);
}

void Writer::plainString(std::string_view value)
{
    beforeValue();
    out_.push_back('"');
    out_.append(value);
    out_.push_back('"');
}

void Writer::appendQuoted(const QString& value)
{
    out_.push_back('"');
    const char16_t* units = reinterpret_cast<const char16_t*>(value.utf16());
    const qsizetype size = value.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t unit = units[i];
        if (unit >= 0x20 && unit < 0x80 && unit != u'"' && unit != u'\\') {
            out_.push_back(static_cast<char>(unit));
            continue;
        }
        switch (unit) {
        case u'"':
            out_.append("\\\"");
            continue;
        case u'\\':
            out_.append("\\\\");
            continue;
        case u'\b':
            out_.append("\\b");
            continue;
        case u'\f':
            out_.append("\\f");
            continue;
        case u'\n':
            out_.append("\\n");
            continue;
        case u'\r':
            out_.append("\\r");
            continue;
        case u'\t':
            out_.append("\\t");
            continue;
        default:
            break;
        }
        if (unit < 0x20) {
            appendControlEscape(out_, unit);
        } else if (QChar::isHighSurrogate(unit) && i + 1 < size && QChar::isLowSurrogate(units[i + 1])) {
            appendUtf8(out_, QChar::surrogateToUcs4(unit, units[i + 1]));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            appendUtf8(out_, 0xFFFD); // a lone half of a pair is not text
        } else {
            appendUtf8(out_, unit);
        }
    }
    out_.push_back('"');
}

void Writer::id(const QUuid& value)
{
    beforeValue();
    char text[38];
    char* at = text;
    const auto hex = [&at](std::uint64_t bits, int digits) {
        for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
            *at++ = "0123456789ABCDEF"[(bits >> shift) & 0xF];
    };
    *at++ = '"';
    hex(value.data1, 8);
    *at++ = '-';
    hex(value.data2, 4);
    *at++ = '-';
    hex(value.data3, 4);
    *at++ = '-';
    hex(value.data4[0], 2);
    hex(value.data4[1], 2);
    *at++ = '-';
    for (int i = 2; i < 8; ++i)
        hex(value.data4[i], 2);
    *at++ = '"';
    out_.append(text, sizeof text);
}

QUuid requireId(const Json& object, std::string_view key)
{
    const auto id = uuid::parse(json::requireString(object, key));
    if (!id)
        throw JsonDecodeError("\"" + std::string(key) + "\" is not a UUID");
    return *id;
}

} // namespace focusjson
