#include "platform/TcpClient.h"

#include "platform/AbortSignal.h"
#include "platform/SocketError.h"
#include "platform/SocketErrorText.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace lumacast {
namespace {

bool IsClosedError(int e)
{
    return e == ECONNRESET || e == ECONNABORTED || e == ESHUTDOWN || e == EPIPE || e == ENOTCONN;
}

// The system's user timeout also bounds its SYN retries; 0 is its default
// (no bound of ours).
void SetUserTimeout(int fd, std::chrono::milliseconds bound)
{
    const auto ms = static_cast<unsigned>(bound.count());
    if (::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &ms, sizeof ms) != 0)
        throw SocketError("setsockopt TCP_USER_TIMEOUT", errno);
}

void SetNonBlocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0)
        throw SocketError("fcntl", errno);
}

// Waits for `events` on fd, or for `abort`; -1 waits without limit. True
// when the fd is ready, false when the time ran out; throws when aborted.
// EINTR restarts the wait for the whole time again: callers wait for ever or
// only briefly.
bool WaitFor(int fd, short events, const AbortSignal *abort, int timeoutMs, const char *what)
{
    pollfd fds[2] = {{fd, events, 0}, {abort ? abort->Fd() : -1, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw SocketError("poll", errno);
        if (fds[1].revents & POLLIN)
            throw SocketError(std::string(what) + " aborted", ECANCELED);
        return n > 0;
    }
}

// What a host-name lookup hands back to the thread that waits for it. Both
// share it, so the lookup may outlive a waiter that gave up.
struct Lookup {
    Lookup() : finished(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
    {
        if (finished < 0)
            throw SocketError(SocketErrorMessage(errno), errno);
    }
    Lookup(const Lookup &) = delete;
    Lookup &operator=(const Lookup &) = delete;
    ~Lookup() { ::close(finished); }

    std::mutex mutex;
    int rc = 0;
    int error = 0;
    Ipv4Address address;
    // Readable once the lookup has finished.
    const int finished;
};

int TimeoutOf(std::optional<std::chrono::milliseconds> limit)
{
    return limit ? static_cast<int>(std::clamp<long long>(limit->count(), 0, INT32_MAX)) : -1;
}

} // namespace

TcpClient::~TcpClient()
{
    Disconnect();
}

void TcpClient::Connect(Ipv4Address address, std::uint16_t port, const AbortSignal *abort,
                        std::optional<std::chrono::milliseconds> limit)
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
        remote.sin_addr.s_addr = htonl(address.value);
        remote.sin_port = htons(port);
        // Non-blocking for good: every wait on this socket also watches a
        // signal that can end it. The connect wait has no limit of its own;
        // the system's attempt ends after the bound.
        SetNonBlocking(fd);
        SetUserTimeout(fd, attemptBound_);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&remote), sizeof remote) != 0) {
            if (errno != EINPROGRESS)
                throw SocketError("connect", errno);
            if (!WaitFor(fd, POLLOUT, abort, TimeoutOf(limit), "connect"))
                throw SocketError("connect", ETIMEDOUT);
            int error = 0;
            socklen_t len = sizeof error;
            if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0)
                throw SocketError("getsockopt", errno);
            if (error != 0)
                throw SocketError("connect", error);
        }
        // The bound is the attempt's alone: the connection keeps the system's
        // own patience with a device that stops acknowledging.
        SetUserTimeout(fd, std::chrono::milliseconds(0));
    } catch (...) {
        ::close(fd);
        fd_ = -1;
        throw;
    }
}

void TcpClient::Send(std::string_view bytes, const AbortSignal *stop)
{
    if (fd_ < 0)
        throw SocketError("send on a closed connection", ENOTCONN);
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            throw SocketError("send", errno);
        // A device that does not read: wait for room, or for the stop request.
        WaitFor(fd_, POLLOUT, stop, -1, "send");
    }
}

TcpClient::Seen TcpClient::ReadAvailable()
{
    // Only what has arrived by now: a device that streams must not keep the
    // look going. But the count is only a floor: a reply may land after it,
    // so the first read always has room for a whole one, and it is the read,
    // not the count, that tells end of stream.
    int counted = 0;
    if (::ioctl(fd_, FIONREAD, &counted) != 0)
        throw SocketError("ioctl", errno);
    if (afterCount_)
        afterCount_();
    char buffer[16384];
    std::size_t left =
        std::max(counted > 0 ? static_cast<std::size_t>(counted) : 0, std::min(keep_, sizeof buffer));
    while (left > 0) {
        const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, left), MSG_DONTWAIT);
        if (n > 0) {
            const auto got = static_cast<std::size_t>(n);
            if (input_.size() < keep_)
                input_.append(buffer, std::min(got, keep_ - input_.size()));
            left -= std::min(got, left);
            continue;
        }
        if (n == 0)
            return Seen::Ended;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return Seen::Open;
        if (IsClosedError(errno))
            return Seen::Reset;
        throw SocketError("recv", errno);
    }
    return Seen::Open;
}

TcpClient::CheckResult TcpClient::CheckForData(int waitMs)
{
    CheckResult result;
    if (fd_ < 0) {
        result.received = !input_.empty();
        result.closed = true;
        return result;
    }
    Seen seen = ReadAvailable();
    if (input_.empty() && seen == Seen::Open) {
        pollfd p{fd_, POLLIN, 0};
        int n;
        do {
            n = ::poll(&p, 1, waitMs);
        } while (n < 0 && errno == EINTR);
        if (n > 0)
            seen = ReadAvailable();
    }
    if (seen != Seen::Open)
        Disconnect();
    result.received = !input_.empty();
    result.closed = seen != Seen::Open;
    result.reset = seen == Seen::Reset;
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
    // Fails only on a connection already gone; the reads below then end at once.
    (void)::shutdown(fd_, SHUT_WR);
    // Input left unread makes the close reset the connection. So read away
    // what is there and what the device still sends until it ends its side,
    // for a short while only: a device that streams or never closes gets
    // its reset all the same.
    const auto deadline = std::chrono::steady_clock::now() + DisconnectLinger;
    char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0 || (n < 0 && errno == EINTR)) {
            if (std::chrono::steady_clock::now() >= deadline)
                break;
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
            break;
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) < 0 && errno != EINTR)
            break;
    }
    ::close(fd_);
    fd_ = -1;
}

Ipv4Address TcpClient::ResolveIPv4(const std::string &host, const AbortSignal *abort,
                                   std::optional<std::chrono::milliseconds> limit)
{
    // The system's lookup has no time limit we could set and cannot be
    // cancelled, so it runs on a thread of its own that nobody joins.
    auto lookup = std::make_shared<Lookup>();
    auto work = [lookup, host] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo *found = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &found);
        const int error = errno;
        std::lock_guard lock(lookup->mutex);
        lookup->rc = rc != 0 ? rc : (found == nullptr ? EAI_NONAME : 0);
        lookup->error = error;
        if (lookup->rc == 0)
            lookup->address.value = ntohl(reinterpret_cast<sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
        if (found != nullptr)
            ::freeaddrinfo(found);
        const std::uint64_t one = 1;
        // Fails only when the counter is full, and then it is readable anyway.
        [[maybe_unused]] auto n = ::write(lookup->finished, &one, sizeof one);
    };
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error &e) {
        // Out of threads: this lookup fails, the program goes on.
        throw SocketError("host-name lookup thread", e.code().value());
    }

    if (!WaitFor(lookup->finished, POLLIN, abort, TimeoutOf(limit), "host-name lookup"))
        throw SocketError("host-name lookup of " + host, ETIMEDOUT);
    std::lock_guard lock(lookup->mutex);
    if (lookup->rc != 0)
        throw SocketError("cannot resolve " + host, lookup->rc == EAI_SYSTEM ? lookup->error : EHOSTUNREACH);
    return lookup->address;
}

} // namespace lumacast
