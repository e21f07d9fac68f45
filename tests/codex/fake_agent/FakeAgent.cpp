// A stand-in for the coding agent's "app-server": JSON-RPC lines on stdin and stdout, driven by a
// script file named in FAKE_AGENT_SCRIPT.
//
// {
//   "log": "<file>",        every line received is appended here
//   "launches": "<file>",   one JSON line per start: {"args": [...], "cwd": "...", "path": "..."}
//   "onLaunch": [actions],
//   "rules": [{"method": "...", "launch": n, "times": n, "actions": [actions]}],
//   "cues": [{"file": "<file>", "actions": [actions]}]     run when the file appears (and removed)
// }
// A request is handled by the first rule for its method whose launch number fits and whose times
// are not used up; with no rule it is answered with an empty result. Actions: {"reply": result},
// {"error": object}, {"line": value}, {"raw": "bytes"} ("$ID" stands for the request's id),
// {"sleepMs": n}, {"exit": code}. Replies leave out "jsonrpc", as the real agent does.
#include <nlohmann/json.hpp>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using nlohmann::json;

namespace {

json script;
int launchNumber = 0;

void writeAll(const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(1, bytes.data() + done, bytes.size() - done);
        if (n <= 0)
            std::exit(9);
        done += static_cast<std::size_t>(n);
    }
}

void appendLine(const std::string& file, const std::string& line)
{
    if (file.empty())
        return;
    std::ofstream out(file, std::ios::app | std::ios::binary);
    out << line << '\n';
}

void run(const json& actions, const json* id)
{
    for (const json& action : actions) {
        if (action.contains("reply") && id) {
            writeAll(json {{"id", *id}, {"result", action["reply"]}}.dump() + "\n");
        } else if (action.contains("error") && id) {
            writeAll(json {{"id", *id}, {"error", action["error"]}}.dump() + "\n");
        } else if (action.contains("line")) {
            writeAll(action["line"].dump() + "\n");
        } else if (action.contains("raw")) {
            std::string bytes = action["raw"].get<std::string>();
            for (std::size_t at; id && (at = bytes.find("$ID")) != std::string::npos;)
                bytes.replace(at, 3, id->dump());
            writeAll(bytes);
        } else if (action.contains("sleepMs")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(action["sleepMs"].get<int>()));
        } else if (action.contains("exit")) {
            std::exit(action["exit"].get<int>());
        }
    }
}

void handle(const std::string& line)
{
    appendLine(script.value("log", std::string()), line);
    json message = json::parse(line, nullptr, false);
    if (!message.is_object() || !message.contains("method") || !message.contains("id"))
        return;
    const std::string method = message["method"].get<std::string>();
    const json id = message["id"];
    for (json& rule : script["rules"]) {
        if (rule.value("method", std::string()) != method)
            continue;
        if (rule.contains("launch") && rule["launch"].get<int>() != launchNumber)
            continue;
        if (rule.contains("times")) {
            if (rule["times"].get<int>() <= 0)
                continue;
            rule["times"] = rule["times"].get<int>() - 1;
        }
        run(rule["actions"], &id);
        return;
    }
    run(json::array({json {{"reply", json::object()}}}), &id);
}

bool exists(const std::string& file)
{
    return ::access(file.c_str(), F_OK) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    const char* scriptPath = std::getenv("FAKE_AGENT_SCRIPT");
    if (!scriptPath)
        return 2;
    std::ifstream in(scriptPath);
    std::stringstream text;
    text << in.rdbuf();
    script = json::parse(text.str());
    if (!script.contains("rules"))
        script["rules"] = json::array();
    if (!script.contains("cues"))
        script["cues"] = json::array();

    const std::string launches = script.value("launches", std::string());
    if (!launches.empty()) {
        std::ifstream before(launches);
        std::string seen;
        while (std::getline(before, seen))
            ++launchNumber;
        json args = json::array();
        for (int i = 1; i < argc; ++i)
            args.push_back(argv[i]);
        char cwd[4096] = {};
        const char* path = std::getenv("PATH");
        appendLine(launches, json {{"args", args}, {"cwd", ::getcwd(cwd, sizeof cwd) ? cwd : ""},
                                   {"path", path ? json(path) : json(nullptr)}}.dump());
    }
    ++launchNumber;
    if (script.contains("onLaunch"))
        run(script["onLaunch"], nullptr);

    std::string pending;
    char chunk[65536];
    for (;;) {
        for (json& cue : script["cues"]) {
            const std::string file = cue["file"].get<std::string>();
            if (exists(file)) {
                // Taken at once, so a child started later does not act on it again.
                ::unlink(file.c_str());
                run(cue["actions"], nullptr);
            }
        }
        pollfd input {0, POLLIN, 0};
        if (::poll(&input, 1, 10) <= 0)
            continue;
        const ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n <= 0)
            return 0;
        pending.append(chunk, static_cast<std::size_t>(n));
        for (std::size_t newline; (newline = pending.find('\n')) != std::string::npos;) {
            const std::string line = pending.substr(0, newline);
            pending.erase(0, newline + 1);
            handle(line);
        }
    }
}
