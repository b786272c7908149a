#include "discovery/DeviceSender.h"

#include <algorithm>

namespace lumacast {

std::string_view NotADevice(const Endpoint &sender, const std::vector<Ipv4Address> &localBroadcasts)
{
    constexpr std::string_view NoHost = "not a device's address";
    constexpr std::string_view Broadcast = "a broadcast address";
    constexpr std::string_view Multicast = "a multicast address";
    const auto &b = sender.bytes;
    if (sender.family == IpFamily::IPv6) {
        if (std::all_of(b.begin(), b.end(), [](std::uint8_t x) { return x == 0; }))
            return NoHost;
        return b[0] == 0xFF ? Multicast : std::string_view{};
    }
    const Ipv4Address address{std::uint32_t(b[0]) << 24 | std::uint32_t(b[1]) << 16 |
                              std::uint32_t(b[2]) << 8 | b[3]};
    if (b[0] == 0)
        return NoHost;
    if (address.value == 0xFFFFFFFFu ||
        std::find(localBroadcasts.begin(), localBroadcasts.end(), address) != localBroadcasts.end())
        return Broadcast;
    return (b[0] & 0xF0) == 0xE0 ? Multicast : std::string_view{};
}

} // namespace lumacast
