// A hostile crowd for the phone listener: keeps <connections> silent TCP connections open to
// 127.0.0.1:<port>, opening a new one whenever the listener closes one, until its parent goes away.
// Prints "flooding" once every connection has been started, then, once a second, how many it re-opened.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

int openOne(const sockaddr_in& address)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0 && errno != EINPROGRESS) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <port> <connections>\n", argv[0]);
        return 2;
    }
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    const int wanted = std::atoi(argv[2]);
    rlimit limit {};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);

    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(std::atoi(argv[1])));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);

    // Slot 0 watches stdin: the parent closing it (or dying) ends the flood.
    std::vector<pollfd> fds(static_cast<std::size_t>(wanted) + 1);
    fds[0] = { STDIN_FILENO, POLLIN, 0 };
    for (std::size_t i = 1; i < fds.size(); ++i)
        fds[i] = { openOne(address), POLLIN | POLLRDHUP, 0 };
    std::printf("flooding\n");
    std::fflush(stdout);

    long reopened = 0;
    std::time_t lastReport = std::time(nullptr);
    char sink[512];
    for (;;) {
        if (::poll(fds.data(), fds.size(), 20) < 0 && errno != EINTR)
            return 1;
        if (fds[0].revents & (POLLIN | POLLHUP)) {
            if (::read(STDIN_FILENO, sink, sizeof sink) <= 0)
                return 0;
        }
        for (std::size_t i = 1; i < fds.size(); ++i) {
            pollfd& slot = fds[i];
            bool gone = slot.fd < 0;
            if (!gone && (slot.revents & (POLLHUP | POLLERR | POLLRDHUP)))
                gone = true;
            else if (!gone && (slot.revents & POLLIN))
                gone = ::read(slot.fd, sink, sizeof sink) <= 0;
            if (!gone)
                continue;
            if (slot.fd >= 0)
                ::close(slot.fd);
            slot.fd = openOne(address);
            slot.revents = 0;
            ++reopened;
        }
        if (std::time(nullptr) != lastReport) {
            lastReport = std::time(nullptr);
            std::printf("reopened %ld\n", reopened);
            std::fflush(stdout);
        }
    }
}
