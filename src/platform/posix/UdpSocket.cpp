#include "platform/UdpSocket.h"

#include "platform/AbortSignal.h"
#include "platform/SocketError.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <poll.h>
#include <unistd.h>

namespace lumacast {
namespace {

int DomainOf(IpFamily family)
{
    return family == IpFamily::IPv4 ? AF_INET : AF_INET6;
}

void SetFlag(int fd, int level, int option, bool on, const char *what)
{
    const int value = on ? 1 : 0;
    if (::setsockopt(fd, level, option, &value, sizeof value) != 0)
        throw SocketError(what, errno);
}

Endpoint EndpointOf(const sockaddr_storage &address)
{
    Endpoint peer;
    if (address.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
        peer.family = IpFamily::IPv6;
        std::copy(std::begin(in6.sin6_addr.s6_addr), std::end(in6.sin6_addr.s6_addr), peer.bytes.begin());
        peer.port = ntohs(in6.sin6_port);
    } else if (address.ss_family == AF_INET) {
        const auto &in4 = reinterpret_cast<const sockaddr_in &>(address);
        std::memcpy(peer.bytes.data(), &in4.sin_addr, sizeof in4.sin_addr);
        peer.port = ntohs(in4.sin_port);
    }
    return peer;
}

} // namespace

UdpSocket::UdpSocket(IpFamily family) : family_(family)
{
    fd_ = ::socket(DomainOf(family), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        throw SocketError("socket", errno);
}

UdpSocket::~UdpSocket()
{
    ::close(fd_);
}

bool UdpSocket::FamilyOffered(IpFamily family)
{
    const int fd = ::socket(DomainOf(family), SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
}

void UdpSocket::Bind(std::uint16_t port)
{
    SetFlag(fd_, SOL_SOCKET, SO_REUSEADDR, false, "setsockopt SO_REUSEADDR");
    if (family_ == IpFamily::IPv4) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(INADDR_ANY);
        local.sin_port = htons(port);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            throw BindError("bind", errno);
    } else {
        SetFlag(fd_, IPPROTO_IPV6, IPV6_V6ONLY, true, "setsockopt IPV6_V6ONLY");
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr = in6addr_any;
        local.sin6_port = htons(port);
        if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0)
            throw BindError("bind", errno);
    }
}

std::uint16_t UdpSocket::LocalPort() const
{
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (::getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        throw SocketError("getsockname", errno);
    if (local.ss_family == AF_INET)
        return ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
}

void UdpSocket::SetBroadcast(bool allowed)
{
    SetFlag(fd_, SOL_SOCKET, SO_BROADCAST, allowed, "setsockopt SO_BROADCAST");
}

int UdpSocket::RaiseReceiveBuffer(int bytes) noexcept
{
    // The forced size needs network administration rights; without them the
    // ordinary option is capped by the system's maximum.
    // A refused ordinary option leaves the size as it was; the read below tells.
    if (::setsockopt(fd_, SOL_SOCKET, SO_RCVBUFFORCE, &bytes, sizeof bytes) != 0)
        (void)::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
    int granted = 0;
    socklen_t len = sizeof granted;
    if (::getsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &granted, &len) != 0)
        return 0;
    return granted;
}

void UdpSocket::SendTo(Ipv4Address to, std::uint16_t port, std::string_view data)
{
    sockaddr_in remote{};
    remote.sin_family = AF_INET;
    remote.sin_addr.s_addr = htonl(to.value);
    remote.sin_port = htons(port);
    for (;;) {
        const ssize_t n = ::sendto(fd_, data.data(), data.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<sockaddr *>(&remote), sizeof remote);
        if (n >= 0)
            return;
        if (errno != EINTR)
            throw SocketError("sendto", errno);
    }
}

UdpSocket::WaitResult UdpSocket::Wait(int timeoutMs, const AbortSignal &stop) const
{
    pollfd fds[2] = {{fd_, POLLIN, 0}, {stop.Fd(), POLLIN, 0}};
    int n;
    do {
        n = ::poll(fds, 2, timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        throw SocketError("poll", errno);
    if (fds[1].revents & POLLIN)
        return WaitResult::Stopped;
    if (fds[0].revents != 0)
        return WaitResult::Readable;
    return WaitResult::TimedOut;
}

UdpSocket::ReceiveResult UdpSocket::ReceiveNow(Datagram &into)
{
    into.data.resize(MaxDatagram);
    for (;;) {
        sockaddr_storage sender{};
        socklen_t len = sizeof sender;
        // MSG_TRUNC makes the call tell the datagram's real length, so an
        // over-long one is recognised instead of being handed over cut short.
        const ssize_t n = ::recvfrom(fd_, into.data.data(), into.data.size(), MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr *>(&sender), &len);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            into.data.clear();
            return (errno == EAGAIN || errno == EWOULDBLOCK) ? ReceiveResult::NothingWaiting
                                                             : ReceiveResult::Lost;
        }
        if (static_cast<std::size_t>(n) > MaxDatagram) {
            into.data.clear();
            return ReceiveResult::Lost;
        }
        into.data.resize(static_cast<std::size_t>(n));
        into.sender = EndpointOf(sender);
        return n == 0 ? ReceiveResult::Empty : ReceiveResult::Received;
    }
}

} // namespace lumacast
