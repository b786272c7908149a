#include "platform/LocalNetworks.h"

#include <arpa/inet.h>
#include <cerrno>
#include <ifaddrs.h>
#include <net/if.h>
#include <system_error>

namespace lumacast {

std::vector<Ipv4Address> LocalBroadcastAddresses()
{
    ifaddrs *list = nullptr;
    if (::getifaddrs(&list) != 0)
        throw std::system_error(errno, std::generic_category(), "cannot list this machine's networks");
    std::vector<Ipv4Address> found;
    for (const ifaddrs *i = list; i != nullptr; i = i->ifa_next) {
        if (i->ifa_addr == nullptr || i->ifa_addr->sa_family != AF_INET ||
            (i->ifa_flags & IFF_BROADCAST) == 0 || i->ifa_broadaddr == nullptr)
            continue;
        const auto &in4 = reinterpret_cast<const sockaddr_in &>(*i->ifa_broadaddr);
        found.push_back(Ipv4Address{ntohl(in4.sin_addr.s_addr)});
    }
    ::freeifaddrs(list);
    return found;
}

} // namespace lumacast
