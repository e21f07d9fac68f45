#include "shared/focus/FocusSync.h"

#include "shared/focus/FocusJson.h"
#include "shared/util/ReferenceTime.h"

FocusSync::FocusSync(std::optional<FocusSession> current_, std::vector<FocusSession> history_,
                     std::int64_t revision_, std::optional<bool> developerMode_)
    : FocusSync(std::move(current_), std::move(history_), revision_, developerMode_, referenceTime::now())
{
}

FocusSync::FocusSync(std::optional<FocusSession> current_, std::vector<FocusSession> history_,
                     std::int64_t revision_, std::optional<bool> developerMode_, double sentAt_)
    : current(std::move(current_))
    , history(std::move(history_))
    , revision(revision_)
    , sentAt(sentAt_)
    , developerMode(developerMode_)
{
}

void FocusSync::write(focusjson::Writer& out) const
{
    out.beginObject();
    if (current) {
        out.key("current");
        current->write(out);
    }
    out.key("history");
    out.beginArray();
    for (const auto& session : history)
        session.write(out);
    out.endArray();
    out.key("revision");
    out.integer(revision);
    out.key("sentAt");
    out.number(sentAt);
    if (developerMode) {
        out.key("developerMode");
        out.boolean(*developerMode);
    }
    out.endObject();
}

Json FocusSync::toJson() const
{
    return json::parse(encode());
}

FocusSync FocusSync::fromJson(const Json& object)
{
    json::requireObject(object, "focus state");
    FocusSync sync;
    if (const Json* current = json::optional(object, "current"))
        sync.current = FocusSession::fromJson(*current);
    sync.history = focusSessionsFromJson(json::requireArrayAt(object, "history"));
    sync.revision = json::requireInteger(object, "revision");
    sync.sentAt = json::requireNumber(object, "sentAt");
    sync.developerMode = json::optionalBool(object, "developerMode");
    return sync;
}

QByteArray FocusSync::encode() const
{
    std::size_t expected = 100 + focusjson::expectedSize(history);
    if (current)
        expected += focusjson::expectedSize(*current);
    focusjson::Writer out(expected);
    write(out);
    return QByteArray::fromStdString(out.take());
}

FocusSync FocusSync::decode(const QByteArray& text)
{
    return fromJson(json::parse(text));
}
