#include "shared/util/Json.h"

#include <cmath>
#include <algorithm>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

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

using Members = Json::object_t::Container;

// Builds a document from the parser's events. The library's own builder looks each key up by a
// linear search of the ordered object, so one object of many keys took quadratic time; here the keys
// of each open object are indexed by hash, and the object is laid out once it closes.
class Builder {
public:
    explicit Builder(KeepMember keep) : m_keep(keep) {}

    bool null() { return value(Json(nullptr)); }
    bool boolean(bool flag) { return value(Json(flag)); }
    bool number_integer(Json::number_integer_t number) { return value(Json(number)); }
    bool number_unsigned(Json::number_unsigned_t number) { return value(Json(number)); }
    bool number_float(Json::number_float_t number, const Json::string_t&) { return value(Json(number)); }
    bool string(Json::string_t& text) { return value(Json(std::move(text))); }
    bool binary(Json::binary_t& bytes) { return value(Json::binary(std::move(bytes))); }
    bool start_object(std::size_t) { return open(true); }
    bool start_array(std::size_t) { return open(false); }
    bool key(Json::string_t& key)
    {
        if (m_skipping > 0)
            return true;
        m_dropNext = m_keep && !m_keep(static_cast<int>(m_depth), &key);
        if (!m_dropNext)
            m_frames[m_depth - 1]->key = std::move(key);
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool parse_error(std::size_t, const std::string&, const Json::exception& error)
    {
        m_error = std::string("not JSON: ") + error.what();
        return false;
    }

    Json take() { return std::move(m_root); }
    const std::string& error() const { return m_error; }

private:
    // The keys of one open object, in order, found by hash once there are more than a handful.
    struct Frame {
        bool isObject = false;
        Json array;
        std::vector<std::pair<std::string, Json>> members;
        std::vector<std::size_t> hashes;
        // Open addressing over member positions plus one; 0 is free. Empty while the object is small.
        std::vector<std::uint32_t> table;
        std::string key;

        static constexpr std::size_t scanned = 8;

        void clear()
        {
            members.clear();
            hashes.clear();
            table.clear();
        }

        // The position of `name` among the members, or members.size() when it is new.
        std::size_t find(const std::string& name, std::size_t hash) const
        {
            if (table.empty()) {
                for (std::size_t i = 0; i < members.size(); ++i)
                    if (members[i].first == name)
                        return i;
                return members.size();
            }
            const std::size_t mask = table.size() - 1;
            for (std::size_t at = hash & mask; table[at] != 0; at = (at + 1) & mask) {
                const std::size_t i = table[at] - 1;
                if (hashes[i] == hash && members[i].first == name)
                    return i;
            }
            return members.size();
        }

        void add(std::string name, std::size_t hash, Json item)
        {
            members.emplace_back(std::move(name), std::move(item));
            hashes.push_back(hash);
            if (members.size() > scanned && members.size() * 2 > table.size())
                rehash(std::max<std::size_t>(64, table.size() * 2));
            else if (!table.empty())
                place(members.size() - 1);
        }

        void rehash(std::size_t size)
        {
            table.assign(size, 0);
            for (std::size_t i = 0; i < members.size(); ++i)
                place(i);
        }

        void place(std::size_t i)
        {
            const std::size_t mask = table.size() - 1;
            std::size_t at = hashes[i] & mask;
            while (table[at] != 0)
                at = (at + 1) & mask;
            table[at] = static_cast<std::uint32_t>(i + 1);
        }
    };

    // True when the value that starts now is not kept: the member's key was refused, or the reader
    // refuses this array's elements.
    bool dropping()
    {
        if (m_dropNext) {
            m_dropNext = false;
            return true;
        }
        return m_keep && m_depth > 0 && !m_frames[m_depth - 1]->isObject && !m_keep(static_cast<int>(m_depth), nullptr);
    }

    bool open(bool isObject)
    {
        if (m_depth + m_skipping == static_cast<std::size_t>(maximumNesting)) {
            m_error.assign("nested deeper than ").append(std::to_string(maximumNesting)).append(" levels");
            return false;
        }
        if (m_skipping > 0 || dropping()) {
            ++m_skipping;
            return true;
        }
        // Frames are kept for reuse: an array of a million small objects opens a million of them.
        if (m_frames.size() == m_depth)
            m_frames.push_back(std::make_unique<Frame>());
        Frame& frame = *m_frames[m_depth++];
        frame.isObject = isObject;
        if (!isObject)
            frame.array = Json::array();
        return true;
    }

    bool close()
    {
        if (m_skipping > 0) {
            --m_skipping;
            return true;
        }
        Frame& frame = *m_frames[--m_depth];
        Json done;
        if (frame.isObject) {
            done = Json::object();
            auto& members = static_cast<Members&>(done.get_ref<Json::object_t&>());
            members.reserve(frame.members.size());
            for (auto& [key, item] : frame.members)
                members.emplace_back(std::move(key), std::move(item));
            frame.clear();
        } else {
            done = std::move(frame.array);
            frame.array = Json();
        }
        return value(std::move(done));
    }

    bool value(Json&& item)
    {
        if (m_skipping > 0 || dropping())
            return true;
        if (m_depth == 0) {
            m_root = std::move(item);
            return true;
        }
        Frame& frame = *m_frames[m_depth - 1];
        if (!frame.isObject) {
            frame.array.get_ref<Json::array_t&>().push_back(std::move(item));
            return true;
        }
        const std::size_t hash = std::hash<std::string_view>()(frame.key);
        const std::size_t found = frame.find(frame.key, hash);
        if (found < frame.members.size())
            frame.members[found].second = std::move(item);
        else
            frame.add(std::move(frame.key), hash, std::move(item));
        return true;
    }

    KeepMember m_keep;
    std::vector<std::unique_ptr<Frame>> m_frames;
    std::size_t m_depth = 0;
    // Levels open inside a value that is not kept.
    std::size_t m_skipping = 0;
    bool m_dropNext = false;
    Json m_root;
    std::string m_error;
};

} // namespace

Json parse(const QByteArray& bytes)
{
    return parse(bytes, nullptr);
}

Json parse(std::string_view text)
{
    return parse(text, nullptr);
}

Json parse(const QByteArray& bytes, KeepMember keep)
{
    return parse(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())), keep);
}

Json parse(std::string_view text, KeepMember keep)
{
    Builder builder(keep);
    bool complete = false;
    try {
        complete = Json::sax_parse(text.begin(), text.end(), &builder);
    } catch (const Json::exception& error) {
        throw JsonDecodeError(std::string("not JSON: ") + error.what());
    }
    if (!complete)
        throw JsonDecodeError(builder.error().empty() ? std::string("not JSON") : builder.error());
    return builder.take();
}

void appendNew(Json& object, std::string key, Json value)
{
    requireObject(object);
    static_cast<Members&>(object.get_ref<Json::object_t&>()).emplace_back(std::move(key), std::move(value));
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
