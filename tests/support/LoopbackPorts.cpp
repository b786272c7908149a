#include "support/LoopbackPorts.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace lumacast::test {

namespace {

[[noreturn]] void fail(const char *what)
{
    throw std::runtime_error(std::string(what) + ": " + std::strerror(errno));
}

// A socket bound to 127.0.0.1 and a port of the system's choice.
int boundSocket(sockaddr_in &addr)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        fail("socket");
    addr = sockaddr_in{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        ::close(fd);
        fail("bind");
    }
    return fd;
}

} // namespace

std::uint16_t ClosedPort()
{
    sockaddr_in addr{};
    ::close(boundSocket(addr));
    return ntohs(addr.sin_port);
}

StalledListener::StalledListener()
{
    sockaddr_in addr{};
    listenFd_ = boundSocket(addr);
    if (::listen(listenFd_, 0) != 0) {
        ::close(listenFd_);
        fail("listen");
    }
    port_ = ntohs(addr.sin_port);
    // Fill the backlog; these connects complete or stay pending, never fail.
    for (int i = 0; i < 4; ++i) {
        const int c = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (c < 0)
            fail("socket");
        if (::connect(c, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 && errno != EINPROGRESS) {
            ::close(c);
            fail("connect");
        }
        fillers_.push_back(c);
    }
}

StalledListener::~StalledListener()
{
    for (int c : fillers_)
        ::close(c);
    ::close(listenFd_);
}

} // namespace lumacast::test
