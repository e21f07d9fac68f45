#pragma once

#include <QString>
#include <QUuid>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "shared/util/Json.h"

struct FocusSession;

// The focus records' own JSON plumbing. The phone is sent the whole focus state every second, so the
// records are written straight to text instead of through a document tree.
namespace focusjson {

// Compact JSON text, appended in call order. Refuses numbers that are not finite (JsonEncodeError).
class Writer {
public:
    Writer() = default;
    // Room for about this many bytes up front: the large documents are written every second.
    explicit Writer(std::size_t expectedSize) { out_.reserve(expectedSize); }

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(std::string_view name); // plain ASCII field names
    void textKey(const QString& name); // any text, escaped
    void number(double value);
    void integer(std::int64_t value);
    void boolean(bool value);
    void string(const QString& value);
    // A fixed ASCII value that needs no escaping (an enumeration's text).
    void plainString(std::string_view value);
    // Canonical uppercase 36-character form.
    void id(const QUuid& value);

    const std::string& text() const { return out_; }
    std::string take() { return std::move(out_); }

private:
    void beforeValue();
    void appendQuoted(const QString& value);

    std::string out_;
    bool needsComma_ = false;
};

// A little more than the written size of sessions, for reserving room.
std::size_t expectedSize(const FocusSession& session);
std::size_t expectedSize(const std::vector<FocusSession>& sessions);

// A required UUID in its 36-character text form, either case.
QUuid requireId(const Json& object, std::string_view key);

} // namespace focusjson
