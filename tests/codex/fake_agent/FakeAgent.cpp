// A stand-in for the coding agent's "app-server": JSON-RPC lines on stdin and stdout, driven by the
// script file named in FAKE_AGENT_SCRIPT:
//   {"log": "<file>", "rules": {"<method>": [[actions], ...]}, "cues": {"<file>": [actions]}}
// Every line received, and each start as a "launch" line with its args, cwd and PATH, is logged. The
// n-th request of a method, counted over all launches, runs the n-th action list; past the list it
// gets an empty result. A cue's actions run once its file appears. Actions: a number sleeps that many
// ms, {"exit": code} exits, a string is written as it is, another object as a line; "$ID" (quotes
// included) stands for the request's id. Replies leave out "jsonrpc", as the real agent does. With
// "linger": ms it stays that long after its input closes (an agent finishing work of its own), so
// only being ended ends it sooner; "pid" in the launch line says which process to look for. With
// "child": {"linger": ms, "session": bool} it starts a process of its own that lives that long (in a
// session of its own when asked), as the agent's launcher does; "child" in the launch line is its pid.
// "environment" in the launch line holds the variables it was given.
#include <nlohmann/json.hpp>

#include <poll.h>
#include <unistd.h>

extern char** environ;

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using nlohmann::json;

namespace {

json script;

void log(const std::string& line)
{
    std::ofstream(script["log"].get<std::string>(), std::ios::app) << line << '\n';
}

void run(const json& actions, const json& id)
{
    for (const json& action : actions) {
        if (action.is_number()) {
            ::usleep(action.get<useconds_t>() * 1000);
            continue;
        }
        if (action.contains("exit"))
            std::exit(action["exit"].get<int>());
        std::string bytes = action.is_string() ? action.get<std::string>() : action.dump() + "\n";
        for (std::size_t at; (at = bytes.find("\"$ID\"")) != std::string::npos;)
            bytes.replace(at, 5, id.dump());
        std::fwrite(bytes.data(), 1, bytes.size(), stdout);
        std::fflush(stdout);
    }
}

void handle(const std::string& line)
{
    const json message = json::parse(line, nullptr, false);
    if (!message.is_object() || !message.contains("method") || !message.contains("id"))
        return log(line);
    std::size_t earlier = 0;
    std::ifstream before(script["log"].get<std::string>());
    for (std::string seen; std::getline(before, seen);) {
        const json old = json::parse(seen, nullptr, false);
        earlier += old.is_object() && old.value("method", json()) == message["method"];
    }
    log(line);
    const json lists = script["rules"].value(message["method"].get<std::string>(), json::array());
    run(earlier < lists.size() ? lists[earlier] : json::array({R"({"id":"$ID","result":{}})" "\n"}), message["id"]);
}

} // namespace

int main(int argc, char** argv)
{
    const char* path = std::getenv("PATH");
    script = json::parse(std::ifstream(std::getenv("FAKE_AGENT_SCRIPT")));
    json environment = json::object();
    for (char** variable = environ; *variable; ++variable) {
        const std::string entry = *variable;
        const std::size_t equals = entry.find('=');
        if (equals != std::string::npos)
            environment[entry.substr(0, equals)] = entry.substr(equals + 1);
    }
    pid_t child = 0;
    if (script.contains("child")) {
        const json& asked = script["child"];
        child = ::fork();
        if (child == 0) {
            if (asked.value("session", false))
                ::setsid();
            ::usleep(asked.value("linger", 0u) * 1000);
            ::_exit(0);
        }
    }
    log(json {{"method", "launch"},
              {"args", std::vector<std::string>(argv + 1, argv + argc)},
              {"cwd", std::filesystem::current_path().string()},
              {"path", path ? path : ""},
              {"pid", ::getpid()},
              {"child", child},
              {"environment", environment}}.dump());
    std::string pending;
    for (;;) {
        // A cue is taken at once, so a child started later does not act on it again.
        for (const auto& [file, actions] : script["cues"].items())
            if (::unlink(file.c_str()) == 0)
                run(actions, nullptr);
        pollfd input {0, POLLIN, 0};
        if (::poll(&input, 1, 10) <= 0)
            continue;
        char chunk[65536];
        const ssize_t n = ::read(0, chunk, sizeof chunk);
        if (n <= 0) {
            if (script.contains("linger"))
                ::usleep(script["linger"].get<useconds_t>() * 1000);
            return 0;
        }
        pending.append(chunk, std::size_t(n));
        for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
            handle(pending.substr(0, end));
    }
}
