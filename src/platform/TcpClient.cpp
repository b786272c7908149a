#include "platform/TcpClient.h"

#include "platform/AbortSignal.h"
#include "platform/SocketError.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumacast {
namespace {

bool isClosedError(int e)
{
    return e == ECONNRESET || e == ECONNABORTED || e == ESHUTDOWN || e == EPIPE || e == ENOTCONN;
}

void setBlocking(int fd, bool blocking)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, blocking ? (flags & ~O_NONBLOCK) : (flags | O_NONBLOCK));
}

} // namespace

TcpClient::~TcpClient()
{
    Disconnect();
}

void TcpClient::Connect(in_addr address, std::uint16_t port, const AbortSignal *abort)
{
    Disconnect();
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw SocketError("socket", errno);
    fd_ = fd;
    try {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            throw SocketError("bind", errno);

        sockaddr_in remote{};
        remote.sin_family = AF_INET;
        remote.sin_addr = address;
        remote.sin_port = htons(port);
        // Non-blocking only so that the wait can watch the abort signal too;
        // the wait itself has no time limit: the system's own attempt decides.
        setBlocking(fd, false);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
            if (errno != EINPROGRESS)
                throw SocketError("connect", errno);
            pollfd fds[2] = {{fd, POLLOUT, 0}, {abort ? abort->fd() : -1, POLLIN, 0}};
            for (;;) {
                const int n = ::poll(fds, 2, -1);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                    throw SocketError("poll", errno);
                break;
            }
            if (fds[1].revents & POLLIN)
                throw SocketError("connect aborted", ECANCELED);
            int error = 0;
            socklen_t len = sizeof error;
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len);
            if (error != 0)
                throw SocketError("connect", error);
        }
        setBlocking(fd, true);
    } catch (...) {
        ::close(fd);
        fd_ = -1;
        throw;
    }
}

void TcpClient::Send(std::string_view bytes)
{
    if (fd_ < 0)
        throw SocketError("send on a closed connection", ENOTCONN);
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            throw SocketError("send", errno);
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool TcpClient::ReadAvailable()
{
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            input_.append(buffer, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return false;
        if (isClosedError(errno))
            return true;
        throw SocketError("recv", errno);
    }
}

TcpClient::CheckResult TcpClient::CheckForData(int waitMs)
{
    CheckResult result;
    if (fd_ < 0) {
        result.received = !input_.empty();
        result.closed = true;
        return result;
    }
    bool closed = ReadAvailable();
    if (input_.empty() && !closed) {
        pollfd p{fd_, POLLIN, 0};
        int n;
        do {
            n = ::poll(&p, 1, waitMs);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            closed = ReadAvailable();
    }
    if (closed)
        Disconnect();
    result.received = !input_.empty();
    result.closed = closed;
    return result;
}

std::string TcpClient::TakeInput()
{
    std::string taken;
    taken.swap(input_);
    return taken;
}

void TcpClient::Disconnect() noexcept
{
    if (fd_ < 0)
        return;
    ::shutdown(fd_, SHUT_WR);
    ::close(fd_);
    fd_ = -1;
}

in_addr TcpClient::ResolveIPv4(const std::string &host)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr)
        throw SocketError("cannot resolve " + host, rc == EAI_SYSTEM ? errno : EHOSTUNREACH);
    const in_addr address = reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr;
    ::freeaddrinfo(found);
    return address;
}

} // namespace lumacast
