#include "platform/LocalNetworks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <system_error>

namespace lumacast {
namespace {

std::uint32_t HostOrder(const sockaddr *address)
{
    return ntohl(reinterpret_cast<const sockaddr_in *>(address)->sin_addr.s_addr);
}

} // namespace

std::vector<Ipv4Address> LocalBroadcastAddresses()
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot list this machine's networks");
    std::vector<Ipv4Address> found;
    for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET)
            continue;
        if ((i->ifa_flags & IFF_BROADCAST) != 0 && i->ifa_broadaddr != nullptr &&
            HostOrder(i->ifa_broadaddr) != 0)
            found.push_back(Ipv4Address{HostOrder(i->ifa_broadaddr)});
        // The system takes the network's last address for a broadcast even
        // where none was set ("ip addr add" without "brd"), below /31.
        if ((i->ifa_flags & IFF_POINTOPOINT) == 0 && i->ifa_netmask != nullptr &&
            HostOrder(i->ifa_netmask) < 0xFFFFFFFEu)
            found.push_back(Ipv4Address{HostOrder(i->ifa_addr) | ~HostOrder(i->ifa_netmask)});
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace lumacast
