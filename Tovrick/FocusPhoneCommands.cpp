#include "Tovrick/FocusPhoneCommands.h"

#include <cmath>

#include "Tovrick/focus/FocusCompanion.h"
#include "shared/util/Json.h"
#include "shared/util/Log.h"

namespace focusPhoneCommands {

namespace {

// The arguments the commands read; the rest of what a phone sends is never built.
bool argumentField(int depth, const std::string* key)
{
    return depth == 1 && key && (*key == "task" || *key == "minutes" || *key == "developerMode");
}

// A command's arguments; anything unreadable counts as no arguments, so the engine answers with its
// own refusal rather than the phone getting silence.
Json arguments(const Packet& request)
{
    if (!request.text)
        return Json::object();
    try {
        Json parsed = json::parse(request.text->toUtf8(), argumentField);
        return parsed.is_object() ? parsed : Json::object();
    } catch (const JsonDecodeError&) {
        return Json::object();
    }
}

QString textArgument(const Json& object, const char* key)
{
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? json::toQString(found->get<std::string>()) : QString();
}

double numberArgument(const Json& object, const char* key)
{
    const auto found = object.find(key);
    if (found == object.end() || !found->is_number())
        return 0;
    const double value = found->get<double>();
    return std::isfinite(value) ? value : 0;
}

bool running(const FocusCompanion& focus)
{
    return focus.current() && focus.current()->status == FocusSession::Status::running;
}

} // namespace

bool isFocusCommand(const Packet& request)
{
    return request.command && request.command->startsWith(kPrefix);
}

void handle(FocusCompanion& focus, const Packet& request, const std::function<void(const Packet&)>& reply,
            double now)
{
    if (!isFocusCommand(request))
        return;
    focus.lastPing = now;
    focus.connected = true;

    const QString& command = *request.command;
    const Json args = arguments(request);
    std::optional<QString> answer;
    if (command == QLatin1String("focusStart")) {
        answer = focus.start(textArgument(args, "task"), true, numberArgument(args, "minutes"));
    } else if (command == QLatin1String("focusPause")) {
        answer = focus.pause(QStringLiteral("Paused"));
    } else if (command == QLatin1String("focusResume")) {
        answer = focus.resume();
    } else if (command == QLatin1String("focusEnd")) {
        answer = focus.end();
    } else if (command == QLatin1String("focusTestNudge")) {
        answer = focus.sendTestNudge();
    } else if (command == QLatin1String("focusDeveloperMode")) {
        const auto value = args.find("developerMode");
        if (value != args.end() && value->is_boolean())
            answer = focus.setDeveloperMode(value->get<bool>());
    } else if (command == QLatin1String("focusPhoneInactive")) {
        if (focus.sessionRequiresPhone())
            answer = focus.pause(QStringLiteral("Phone inactive. Resume when you are ready."));
    } else if (command != QLatin1String("focusSync") && command != QLatin1String("focusPing")) {
        logline::info(QStringLiteral("unknown focus command ignored"));
    }

    if (answer && reply) {
        Packet packet;
        packet.command = QStringLiteral("focusReply");
        packet.callID = request.callID;
        packet.text = *answer;
        reply(packet);
    }
    // A running session publishes every second anyway; otherwise the phone would wait for a fresh state.
    if (!running(focus) || command == QLatin1String("focusSync"))
        focus.publish();
}

void phoneDisconnected(FocusCompanion& focus)
{
    focus.connected = false;
    if (focus.sessionRequiresPhone())
        focus.pause(QStringLiteral("Phone disconnected. Reconnect, then resume."));
}

} // namespace focusPhoneCommands
