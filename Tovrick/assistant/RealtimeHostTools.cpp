#include "Tovrick/assistant/RealtimeHost.h"

namespace {

// A property schema: its type and, where it has one, its description.
Json propertySchema(const char* type, const char* description = nullptr)
{
    Json schema = {{"type", type}};
    if (description)
        schema["description"] = description;
    return schema;
}

// The parameters schema: always all three members, an empty object and an empty array included.
Json parameters(Json properties = Json::object(), Json required = Json::array())
{
    return {{"type", "object"}, {"properties", std::move(properties)}, {"required", std::move(required)}};
}

Json tool(const char* name, const QString& description, Json parameterSchema = parameters())
{
    return {{"type", "function"},
            {"name", name},
            {"description", json::fromQString(description)},
            {"parameters", std::move(parameterSchema)}};
}

const Json& gridX()
{
    static const Json schema = propertySchema("number", "0 = left edge, 1000 = right edge of the screen");
    return schema;
}

const Json& gridY()
{
    static const Json schema = propertySchema("number", "0 = top edge, 1000 = bottom edge of the screen");
    return schema;
}

const Json& jobSelector()
{
    static const Json schema =
        propertySchema("string", "Which job: its project name or a few words from it. Leave out for the latest one.");
    return schema;
}

Json baseTools()
{
    Json tools = Json::array();
    tools.push_back(tool("look_at_screen", QStringLiteral(
            "Take a fresh look at the user's screen. Returns the frontmost app, its clickable controls (C ids), "
            "every piece of text (lines L#, words W#) with positions on a 0-1000 grid, and a screenshot. Call "
            "this before pointing or acting, and again whenever the screen may have changed.")));
    tools.push_back(tool("point_at", QStringLiteral(
            "Fly your cursor to something on screen and keep pointing there while you talk about it. Use the "
            "most specific id (a single word or number over a whole line). Call it right before you mention the "
            "thing."),
        parameters({{"target_id", propertySchema("string", "An id from look_at_screen, like W12, L3 or C4.")}},
                   {"target_id"})));
    tools.push_back(tool("point_at_spot", QStringLiteral(
            "Point at something that isn't text (a shape, arrow, chart bar, image) using its position on the "
            "0-1000 grid of the last screenshot."),
        parameters({{"x", gridX()}, {"y", gridY()}}, {"x", "y"})));
    tools.push_back(tool("web_research", QStringLiteral(
            "Look something up on the web and put a short report (title plus up to four paragraphs, with "
            "sources) on the user's screen. Use for anything you're not sure of, anything recent, or anything "
            "that needs facts, prices, news or details. Before calling it, point at the relevant thing if there "
            "is one and reply with one short line that ends with \"doing some research\u2026\"."),
        parameters({{"question", propertySchema("string", "What to research, as a clear, self-contained question.")}},
                   {"question"})));
    tools.push_back(tool("stop_pointing", QStringLiteral(
            "Bring your cursor back home when you're done pointing.")));
    tools.push_back(tool("go_to_sleep", QStringLiteral(
            "Go back to quietly following the user's mouse with your eyes. Use when the user says bye, thanks "
            "that's all, or asks you to sleep.")));
    tools.push_back(tool("focus_start", QStringLiteral(
            "Start focusing on the user's spoken task. Default 30 minutes unless they specify a duration. Call "
            "immediately when they describe what they want to work on."),
        parameters({{"task", propertySchema("string")}, {"minutes", propertySchema("number")}}, {"task"})));
    tools.push_back(tool("focus_pause", QStringLiteral(
            "Pause the focus timer and screenshot monitoring.")));
    tools.push_back(tool("focus_resume", QStringLiteral(
            "Resume a paused focus session.")));
    tools.push_back(tool("focus_end", QStringLiteral(
            "Finish focus and show the session timeline on the phone.")));
    tools.push_back(tool("focus_status", QStringLiteral(
            "Read the focus task, countdown and monitoring status.")));
    return tools;
}

Json computerControlTools()
{
    // Built once per list, then shared by every property that takes a control.
    const Json targetId = propertySchema("string", "An id from look_at_screen (C, L or W). Leave out to use x and y.");
    Json tools = Json::array();
    tools.push_back(tool("click", QStringLiteral(
            "Click something on the screen with your cursor. Prefer a target id; use x and y on the 0-1000 grid "
            "for things without an id. Returns the screen afterwards."),
        parameters({{"target_id", targetId},
                    {"x", gridX()},
                    {"y", gridY()},
                    {"double", propertySchema("boolean", "Double-click instead of a single click.")},
                    {"right", propertySchema("boolean", "Right-click (for context menus).")}})));
    tools.push_back(tool("type_text", QStringLiteral(
            "Type text into whatever is focused, like a keyboard. Click the field first. A newline presses "
            "Return. Returns the screen afterwards if press_return is true."),
        parameters({{"text", propertySchema("string")},
                    {"press_return", propertySchema("boolean", "Press Return after typing (e.g. to search or submit).")}},
                   {"text"})));
    tools.push_back(tool("press_keys", QStringLiteral(
            "Press a key or keyboard shortcut, like \"cmd+t\", \"cmd+l\", \"return\", \"escape\", \"tab\", "
            "\"down\" or \"cmd+shift+n\". Returns the screen afterwards."),
        parameters({{"keys", propertySchema("string")}}, {"keys"})));
    Json direction = propertySchema("string");
    direction["enum"] = {"up", "down", "left", "right"};
    tools.push_back(tool("scroll", QStringLiteral(
            "Scroll the page under a target or spot (or the middle of the screen). Returns the screen afterwards."),
        parameters({{"direction", direction},
                    {"amount", propertySchema("number", "How far, 1 (a little) to 10 (a lot). Default 3.")},
                    {"target_id", targetId},
                    {"x", gridX()},
                    {"y", gridY()}},
                   {"direction"})));
    tools.push_back(tool("drag", QStringLiteral(
            "Drag from one place to another (move a shape, select text, drag a slider). Use ids or 0-1000 grid "
            "positions. Returns the screen afterwards."),
        parameters({{"from_id", targetId},
                    {"from_x", gridX()},
                    {"from_y", gridY()},
                    {"to_id", targetId},
                    {"to_x", gridX()},
                    {"to_y", gridY()}})));
    tools.push_back(tool("open_app", QStringLiteral(
            "Open an app or switch to it by name, like \"Firefox\", \"Text Editor\" or \"Excalidraw\". Returns the "
            "screen afterwards."),
        parameters({{"name", propertySchema("string")}}, {"name"})));
    tools.push_back(tool("open_url", QStringLiteral(
            "Open a website in the default browser, like \"wikipedia.org\" or a full link. Returns the screen "
            "afterwards."),
        parameters({{"url", propertySchema("string")}}, {"url"})));
    return tools;
}

} // namespace

Json RealtimeHost::codexTools()
{
    Json tools = Json::array();
    tools.push_back(tool("codex_start", QStringLiteral(
            "Hand a job to Codex, an AI coder on this computer that works on its own and reports back later."),
        parameters({{"project", propertySchema("string",
                                      "Only if the user names an existing repo, like \"fennow\" or \"pennyfold\". Leave out otherwise.")},
                    {"prompt", propertySchema("string",
                                      "The full job for Codex in clear words, with any detail the user gave (and what's on screen if they "
                                      "said \"this\").")}},
                   {"prompt"})));
    tools.push_back(tool("codex_follow_up", QStringLiteral(
            "Send Codex more instructions for a job (steers it if it's still working, otherwise continues the "
            "same thread)."),
        parameters({{"job", jobSelector()}, {"message", propertySchema("string")}}, {"message"})));
    tools.push_back(tool("codex_status", QStringLiteral(
            "What Codex is doing: its jobs, their state and latest messages.")));
    tools.push_back(tool("codex_stop", QStringLiteral(
            "Stop a Codex job that's working."),
        parameters({{"job", jobSelector()}})));
    tools.push_back(tool("codex_open", QStringLiteral(
            "Open a Codex job in the app that opens codex:// links on this computer, so the user can read it."),
        parameters({{"job", jobSelector()}})));
    return tools;
}

Json RealtimeHost::tools(TurnOptions options)
{
    Json tools = baseTools();
    if (options.codingAgent) {
        for (Json& each : codexTools())
            tools.push_back(std::move(each));
    }
    if (options.computerControl) {
        for (Json& each : computerControlTools())
            tools.push_back(std::move(each));
    }
    return tools;
}
