#include "shared/util/ThreadLimit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

void limitOpenMpThreads(char** argv)
{
    const char* current = std::getenv("OMP_THREAD_LIMIT");
    if (current && std::strcmp(current, "1") == 0)
        return;
    if (::setenv("OMP_THREAD_LIMIT", "1", 1) != 0)
        return;
    ::execv("/proc/self/exe", argv);
    // Still here: the limit is not in force for this process, which runs on regardless.
    std::fprintf(stderr, "Fennow: could not restart with one text-recognition thread: %s\n", std::strerror(errno));
}
