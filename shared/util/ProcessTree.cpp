#include "shared/util/ProcessTree.h"

#include <dirent.h>
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <set>
#include <string>

namespace processtree {

namespace {

struct Stat {
    pid_t parent = 0;
    char state = '?';
    unsigned long long started = 0;
};

// /proc/<pid>/stat: "pid (name) state ppid pgrp session ... starttime(22nd) ..."; the name may hold
// spaces and parentheses, so the fields are read after its last ')'.
std::optional<Stat> readStat(pid_t pid)
{
    char path[64];
    std::snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
    FILE* file = std::fopen(path, "re");
    if (!file)
        return std::nullopt;
    char line[2048];
    const std::size_t length = std::fread(line, 1, sizeof line - 1, file);
    std::fclose(file);
    line[length] = '\0';
    const char* close = std::strrchr(line, ')');
    if (!close)
        return std::nullopt;
    Stat stat;
    int parent = 0;
    // After the name: state (3), ppid (4), then 17 fields up to starttime (22).
    if (std::sscanf(close + 1, " %c %d %*d %*d %*d %*d %*u %*u %*u %*u %*u %*u %*u %*d %*d %*d %*d %*d %*d %llu",
                    &stat.state, &parent, &stat.started)
        != 3)
        return std::nullopt;
    stat.parent = static_cast<pid_t>(parent);
    return stat;
}

template <typename Visit>
void eachProcess(Visit visit)
{
    DIR* proc = ::opendir("/proc");
    if (!proc)
        return;
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (const auto stat = readStat(static_cast<pid_t>(pid)))
            visit(static_cast<pid_t>(pid), *stat);
    }
    ::closedir(proc);
}

} // namespace

std::vector<Member> freeze(pid_t leader)
{
    std::vector<Member> members;
    if (leader <= 0)
        return members;
    ::kill(-leader, SIGSTOP);
    ::kill(leader, SIGSTOP);
    const auto own = readStat(leader);
    members.push_back({leader, own ? own->started : 0});
    std::set<pid_t> found {leader};
    // A process found in one pass may have started another just before it was stopped: pass again
    // until nothing new turns up.
    for (bool more = true; more;) {
        more = false;
        eachProcess([&](pid_t pid, const Stat& process) {
            if (found.count(pid) || !found.count(process.parent))
                return;
            ::kill(pid, SIGSTOP);
            found.insert(pid);
            members.push_back({pid, process.started});
            more = true;
        });
    }
    return members;
}

void signal(pid_t leader, const std::vector<Member>& members, int signal)
{
    if (leader > 0)
        ::kill(-leader, signal);
    for (const Member& member : members) {
        const auto stat = readStat(member.pid);
        if (stat && stat->started == member.started)
            ::kill(member.pid, signal);
    }
}

void kill(pid_t leader)
{
    if (leader <= 0)
        return;
    signal(leader, freeze(leader), SIGKILL);
}

bool alive(pid_t pid)
{
    const auto stat = readStat(pid);
    return stat && stat->state != 'Z' && stat->state != 'X';
}

} // namespace processtree
