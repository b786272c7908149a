#include "support/UdpPeer.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumacast::test {
namespace {

bool ToAddress(const std::string &text, std::uint16_t port, sockaddr_storage &out, socklen_t &len)
{
    out = {};
    auto *v4 = reinterpret_cast<sockaddr_in *>(&out);
    if (::inet_pton(AF_INET, text.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(port);
        len = sizeof(sockaddr_in);
        return true;
    }
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&out);
    if (::inet_pton(AF_INET6, text.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        len = sizeof(sockaddr_in6);
        return true;
    }
    return false;
}

} // namespace

bool InPrivateNetwork()
{
    struct if_nameindex *names = ::if_nameindex();
    if (names == nullptr)
        return false;
    bool onlyLoopback = true;
    for (auto *n = names; n->if_index != 0; ++n)
        onlyLoopback = onlyLoopback && std::strcmp(n->if_name, "lo") == 0;
    ::if_freenameindex(names);
    return onlyLoopback;
}

std::uint16_t FreeUdpPort()
{
    for (;;) {
        const std::uint16_t port = UdpPeer("0.0.0.0").Port();
        const int fd6 = ::socket(AF_INET6, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd6 < 0)
            return port; // no IPv6 here: the IPv4 port is all that counts
        const int on = 1;
        ::setsockopt(fd6, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
        sockaddr_in6 any{};
        any.sin6_family = AF_INET6;
        any.sin6_addr = in6addr_any;
        any.sin6_port = htons(port);
        const bool free6 = ::bind(fd6, reinterpret_cast<sockaddr *>(&any), sizeof any) == 0;
        ::close(fd6);
        if (port != 0 && free6)
            return port;
    }
}

UdpPeer::UdpPeer(const std::string &address, std::uint16_t port)
{
    sockaddr_storage local;
    socklen_t len = 0;
    if (!ToAddress(address, port, local, len))
        return;
    family_ = local.ss_family;
    fd_ = ::socket(family_, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return;
    if (family_ == AF_INET6) {
        const int on = 1;
        ::setsockopt(fd_, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    }
    // Room for a whole burst of test datagrams.
    const int buffer = 4 * 1024 * 1024;
    ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    if (::bind(fd_, reinterpret_cast<sockaddr *>(&local), len) != 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

UdpPeer::~UdpPeer()
{
    if (fd_ >= 0)
        ::close(fd_);
}

std::uint16_t UdpPeer::Port() const
{
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr *>(&local), &len) != 0)
        return 0;
    return local.ss_family == AF_INET ? ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port)
                                      : ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
}

void UdpPeer::Send(const std::string &address, std::uint16_t port, const std::string &data) const
{
    sockaddr_storage remote;
    socklen_t len = 0;
    if (ToAddress(address, port, remote, len))
        ::sendto(fd_, data.data(), data.size(), 0, reinterpret_cast<sockaddr *>(&remote), len);
}

std::optional<UdpPeer::Received> UdpPeer::Receive(std::chrono::milliseconds wait) const
{
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(wait.count())) <= 0)
        return std::nullopt;
    std::string buffer(70000, '\0');
    sockaddr_storage sender{};
    socklen_t len = sizeof sender;
    const ssize_t n = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr *>(&sender), &len);
    if (n < 0)
        return std::nullopt;
    Received r;
    r.data = buffer.substr(0, static_cast<std::size_t>(n));
    char text[INET6_ADDRSTRLEN] = {};
    if (sender.ss_family == AF_INET) {
        auto *a = reinterpret_cast<sockaddr_in *>(&sender);
        ::inet_ntop(AF_INET, &a->sin_addr, text, sizeof text);
        r.senderPort = ntohs(a->sin_port);
    } else {
        auto *a = reinterpret_cast<sockaddr_in6 *>(&sender);
        ::inet_ntop(AF_INET6, &a->sin6_addr, text, sizeof text);
        r.senderPort = ntohs(a->sin6_port);
    }
    r.senderAddress = text;
    return r;
}

bool UdpPeer::Quiet() const
{
    const std::string loopback = family_ == AF_INET6 ? "::1" : "127.0.0.1";
    UdpPeer(loopback).Send(loopback, Port(), "sentinel");
    const auto got = Receive(std::chrono::seconds(2));
    return got && got->data == "sentinel";
}

} // namespace lumacast::test
