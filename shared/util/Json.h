#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// JSON documents keep their keys in insertion order, so writers emit fields in the order they add them.
using Json = nlohmann::ordered_json;

// A document that does not have the shape its reader requires. The whole read fails.
class JsonDecodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A value that JSON cannot carry (a number that is infinite or not a number).
class JsonEncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

namespace json {

// The deepest nesting of objects and arrays any reader accepts. Values are copied and written
// recursively, so a hostile depth would exhaust the stack; real documents stay far below it.
inline constexpr int maximumNesting = 256;

// Parsing. Fails with JsonDecodeError on bytes that are not one JSON document, or that nest deeper
// than maximumNesting. Time is linear in the size of the text, whatever its shape: a repeated key
// keeps its first place and takes the last value.
Json parse(const QByteArray& bytes);
Json parse(std::string_view text);
inline Json parse(const char* text) { return parse(std::string_view(text)); }

// The members a reader looks at, for the reading of one document: called with the depth of the
// container (1 for the document's own members) and a member's key, or null for an array element. What is
// not kept is still checked as JSON but never built, so a reader that names what it reads pays for
// nothing else, however many keys or values a sender piles up around it.
using KeepMember = bool (*)(int depth, const std::string* key);
Json parse(std::string_view text, KeepMember keep);
Json parse(const QByteArray& bytes, KeepMember keep);
inline Json parse(const char* text, KeepMember keep) { return parse(std::string_view(text), keep); }

// Writing: compact, no sorting. Fails with JsonEncodeError when any number in the tree is not finite.
std::string dump(const Json& value);
QByteArray dumpBytes(const Json& value);

// Adds `key` at the end of `object` in constant time; the caller knows the key is not there yet
// (assigning through operator[] searches the whole object first).
void appendNew(Json& object, std::string key, Json value);

// A JSON number for a double; refuses infinity and not-a-number.
Json number(double value);

QString toQString(const std::string& utf8);
std::string fromQString(const QString& text);

// Strict readers. A required key must be present, not null, and of the right JSON type.
// Optional readers take a missing key and null alike as absent, and still fail on a wrong type.
const Json& requireObject(const Json& document, std::string_view what = "document");
const Json& requireArray(const Json& document, std::string_view what = "document");

const Json& required(const Json& object, std::string_view key);
double requireNumber(const Json& object, std::string_view key);
std::int64_t requireInteger(const Json& object, std::string_view key);
bool requireBool(const Json& object, std::string_view key);
QString requireString(const Json& object, std::string_view key);
const Json& requireObjectAt(const Json& object, std::string_view key);
const Json& requireArrayAt(const Json& object, std::string_view key);

const Json* optional(const Json& object, std::string_view key);
std::optional<double> optionalNumber(const Json& object, std::string_view key);
std::optional<std::int64_t> optionalInteger(const Json& object, std::string_view key);
std::optional<bool> optionalBool(const Json& object, std::string_view key);
std::optional<QString> optionalString(const Json& object, std::string_view key);

// Value-level checks for array items and map values.
double asNumber(const Json& value, std::string_view what);
QString asString(const Json& value, std::string_view what);

} // namespace json
