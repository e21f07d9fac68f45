#include "shared/util/ThreadLimit.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

const char* const kLimit = "OMP_THREAD_LIMIT";
// Handed from the first start to the second: the name the program was started under, and the
// user's own value of the limit (absent when the user set none).
const char* const kStartedAs = "TOVRICK_STARTED_AS";
const char* const kUserLimit = "TOVRICK_USER_OMP_THREAD_LIMIT";

std::optional<std::string> variable(const char* name)
{
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void restore(const char* name, const std::optional<std::string>& value)
{
    if (value)
        ::setenv(name, value->c_str(), 1);
    else
        ::unsetenv(name);
}

// What the kernel calls the process: the file name it was started from, at most 15 bytes.
std::string processName()
{
    char name[32] = {};
    if (FILE* file = std::fopen("/proc/self/comm", "re")) {
        if (!std::fgets(name, sizeof name, file))
            name[0] = '\0';
        std::fclose(file);
    }
    name[std::strcspn(name, "\n")] = '\0';
    return name;
}

} // namespace

void limitOpenMpThreads(char** argv)
{
    const std::optional<std::string> limit = variable(kLimit);
    const std::optional<std::string> startedAs = variable(kStartedAs);
    const std::optional<std::string> userLimit = variable(kUserLimit);
    ::unsetenv(kStartedAs);
    ::unsetenv(kUserLimit);
    if (limit == "1") {
        if (startedAs) {
            // The second start: the library has read its limit, the user's environment comes back.
            restore(kLimit, userLimit);
            if (!startedAs->empty())
                ::prctl(PR_SET_NAME, startedAs->c_str(), 0, 0, 0);
        }
        return;
    }

    // Started again through the kernel's link to this very file, which holds even when the file
    // was replaced meanwhile; that start would be named "exe", so the name goes along.
    ::setenv(kStartedAs, processName().c_str(), 1);
    restore(kUserLimit, limit);
    if (::setenv(kLimit, "1", 1) == 0)
        ::execv("/proc/self/exe", argv);
    // Still here: the limit is not in force for this process, which runs on regardless.
    const int error = errno;
    restore(kLimit, limit);
    ::unsetenv(kStartedAs);
    ::unsetenv(kUserLimit);
    std::fprintf(stderr, "Fennow: could not restart with one text-recognition thread: %s\n", std::strerror(error));
}
