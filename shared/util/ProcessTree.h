#pragma once

#include <sys/types.h>

#include <vector>

// A child process started in a session of its own, and every process below it. They are found
// through /proc while the child still holds them: once it has ended, what it started belongs to
// init and can no longer be told apart from anything else.
namespace processtree {

struct Member {
    pid_t pid = 0;
    // The kernel's start time of the process: a number reused by a new process is not the member.
    unsigned long long started = 0;
};

// Stops `leader`, its process group and everything below it (SIGSTOP), so that none of them can
// start another process while they are gathered, and answers them, the leader first.
std::vector<Member> freeze(pid_t leader);
// Sends `signal` to the leader's group and to every member that is still the process it was.
void signal(pid_t leader, const std::vector<Member>& members, int signal);
// Ends the leader and everything below it at once.
void kill(pid_t leader);
// Whether `pid` is a process that has not ended (a zombie has).
bool alive(pid_t pid);

} // namespace processtree
