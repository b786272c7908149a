#pragma once

#include <array>
#include <cstdint>

namespace lumacast {

enum class IpFamily { IPv4, IPv6 };

// An IPv4 address in host order, first part in the top byte.
struct Ipv4Address {
    std::uint32_t value = 0;

    bool operator==(const Ipv4Address &) const = default;
};

// A peer as a socket reports it: the address bytes in network order (the
// first four for IPv4) and the port.
struct Endpoint {
    IpFamily family = IpFamily::IPv4;
    std::array<std::uint8_t, 16> bytes{};
    std::uint16_t port = 0;
};

} // namespace lumacast
