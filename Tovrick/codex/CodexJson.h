#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

#include "shared/util/Json.h"

// Lenient reads of the agent's messages: a missing key and a value of another type both read as
// absent, and nothing throws.
namespace codexjson {

std::optional<QString> string(const Json& object, const char* key);
const Json* object(const Json& object, const char* key);
// The array under `key` when every element is an object.
const Json* arrayOfObjects(const Json& object, const char* key);
// An id as text: numbers and strings by their printed form, so 7 and "7" compare equal.
QString printedId(const Json& id);
// The request's "permissions" object without its null entries; empty when there is none.
Json grantedPermissions(const Json& params);

} // namespace codexjson
