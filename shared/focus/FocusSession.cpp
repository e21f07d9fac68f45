#include "shared/focus/FocusSession.h"

#include "shared/focus/FocusJson.h"
#include "shared/util/ReferenceTime.h"
#include "shared/util/Text.h"
#include "shared/util/Uuid.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

double clampedDuration(double seconds)
{
    if (std::isnan(seconds))
        return FocusSession::kMinimumDuration;
    return std::clamp(seconds, FocusSession::kMinimumDuration, FocusSession::kMaximumDuration);
}

QString nextCheckText(const char* lead, const FocusSession& session)
{
    return QString::fromLatin1(lead) + QString::number(session.isDeveloperMode() ? 10 : 30)
        + QStringLiteral(" seconds");
}

std::string_view statusName(FocusSession::Status status)
{
    switch (status) {
    case FocusSession::Status::running:
        return "running";
    case FocusSession::Status::paused:
        return "paused";
    case FocusSession::Status::ended:
        return "ended";
    }
    return {};
}

FocusSession::Status requireStatus(const Json& object, std::string_view key)
{
    const auto status = focusStatusFromText(json::requireString(object, key));
    if (!status)
        throw JsonDecodeError("\"" + std::string(key) + "\" is not a known status");
    return *status;
}

} // namespace

std::size_t focusjson::expectedSize(const FocusSession& session)
{
    constexpr std::size_t kCheck = 320;
    constexpr std::size_t kSession = 400;
    return kSession + 3 * static_cast<std::size_t>(session.task.size() + session.detail.size())
        + kCheck * session.checks.size();
}

std::size_t focusjson::expectedSize(const std::vector<FocusSession>& sessions)
{
    std::size_t total = 2;
    for (const auto& session : sessions)
        total += expectedSize(session) + 1;
    return total;
}

QString focusStatusText(FocusSession::Status status)
{
    const std::string_view name = statusName(status);
    return QString::fromLatin1(name.data(), static_cast<qsizetype>(name.size()));
}

std::optional<FocusSession::Status> focusStatusFromText(const QString& text)
{
    for (auto status : { FocusSession::Status::running, FocusSession::Status::paused, FocusSession::Status::ended }) {
        if (text == focusStatusText(status))
            return status;
    }
    return std::nullopt;
}

FocusSession::FocusSession(const QString& task_, double duration_, bool developerMode_)
    : FocusSession(task_, duration_, developerMode_, uuid::make(), referenceTime::now())
{
}

FocusSession::FocusSession(const QString& task_, double duration_, bool developerMode_, const QUuid& id_,
                           double startedAt_)
    : id(id_)
    , task(text::prefixCharacters(task_, kMaximumTaskCharacters))
    , duration(clampedDuration(duration_))
    , startedAt(startedAt_)
    , developerMode(developerMode_)
    , usedDeveloperMode(developerMode_)
    , realElapsed(0.0)
{
    detail = nextCheckText("First check in ", *this);
}

double FocusSession::remaining() const
{
    const double left = duration - elapsed;
    return std::isnan(left) || left < 0 ? 0.0 : left;
}

void FocusSession::advance(double seconds)
{
    if (status != Status::running || !std::isfinite(seconds) || seconds <= 0)
        return;
    // The real clock stops exactly where the focus clock reaches the planned end.
    const double realToEnd = remaining() / clockRate();
    realElapsed = realActiveElapsed() + std::min(realToEnd, seconds);
    elapsed = std::min(elapsed + seconds * clockRate(), duration);
    if (elapsed >= duration) {
        status = Status::ended;
        detail = QStringLiteral("Time's up. Lovely bit of focus.");
    }
}

void FocusSession::pause(const QString& reason)
{
    if (status != Status::running)
        return;
    status = Status::paused;
    detail = reason;
    checks.emplace_back(elapsed, FocusActivity::paused, 0.0, 0.0);
}

void FocusSession::resume()
{
    if (status != Status::paused)
        return;
    status = Status::running;
    detail = nextCheckText("Resumed. Next check in ", *this);
}

void FocusSession::setDeveloperMode(bool on)
{
    developerMode = on;
    if (on)
        usedDeveloperMode = true;
}

void FocusSession::end()
{
    status = Status::ended;
    detail = QStringLiteral("Session finished");
}

QString FocusSession::clock(double seconds)
{
    // Not a number and anything beyond a few thousand years print as the nearest sane value
    // instead of overflowing the integer conversion.
    constexpr double kLongest = 1e12;
    const double whole = std::isnan(seconds) ? 0.0 : std::clamp(std::ceil(seconds), 0.0, kLongest);
    const auto total = static_cast<long long>(whole);
    char text[48];
    std::snprintf(text, sizeof text, "%02lld:%02lld", total / 60, total % 60);
    return QString::fromLatin1(text);
}

void FocusSession::write(focusjson::Writer& out) const
{
    out.beginObject();
    out.key("id");
    out.id(id);
    out.key("task");
    out.string(task);
    out.key("duration");
    out.number(duration);
    out.key("startedAt");
    out.number(startedAt);
    out.key("elapsed");
    out.number(elapsed);
    out.key("status");
    out.plainString(statusName(status));
    out.key("detail");
    out.string(detail);
    out.key("checks");
    out.beginArray();
    for (const auto& check : checks)
        check.write(out);
    out.endArray();
    if (developerMode) {
        out.key("developerMode");
        out.boolean(*developerMode);
    }
    if (usedDeveloperMode) {
        out.key("usedDeveloperMode");
        out.boolean(*usedDeveloperMode);
    }
    if (realElapsed) {
        out.key("realElapsed");
        out.number(*realElapsed);
    }
    out.endObject();
}

Json FocusSession::toJson() const
{
    focusjson::Writer out;
    write(out);
    return json::parse(out.text());
}

FocusSession FocusSession::fromJson(const Json& object)
{
    json::requireObject(object, "session");
    FocusSession session;
    session.id = focusjson::requireId(object, "id");
    session.task = json::requireString(object, "task");
    session.duration = json::requireNumber(object, "duration");
    session.startedAt = json::requireNumber(object, "startedAt");
    session.elapsed = json::requireNumber(object, "elapsed");
    session.status = requireStatus(object, "status");
    session.detail = json::requireString(object, "detail");
    const Json& list = json::requireArrayAt(object, "checks");
    session.checks.reserve(list.size());
    for (const auto& item : list)
        session.checks.push_back(FocusCheck::fromJson(item));
    session.developerMode = json::optionalBool(object, "developerMode");
    session.usedDeveloperMode = json::optionalBool(object, "usedDeveloperMode");
    session.realElapsed = json::optionalNumber(object, "realElapsed");
    return session;
}

namespace {

std::string writeSessions(const std::vector<FocusSession>& sessions)
{
    focusjson::Writer out(focusjson::expectedSize(sessions));
    out.beginArray();
    for (const auto& session : sessions)
        session.write(out);
    out.endArray();
    return out.take();
}

} // namespace

Json focusSessionsToJson(const std::vector<FocusSession>& sessions)
{
    return json::parse(writeSessions(sessions));
}

std::vector<FocusSession> focusSessionsFromJson(const Json& array)
{
    json::requireArray(array, "session list");
    std::vector<FocusSession> sessions;
    sessions.reserve(array.size());
    for (const auto& item : array)
        sessions.push_back(FocusSession::fromJson(item));
    return sessions;
}

QByteArray encodeFocusSessions(const std::vector<FocusSession>& sessions)
{
    return QByteArray::fromStdString(writeSessions(sessions));
}

std::vector<FocusSession> decodeFocusSessions(const QByteArray& text)
{
    return focusSessionsFromJson(json::parse(text));
}
