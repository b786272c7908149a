#pragma once

#include <cstddef>
#include <string>

namespace lumacast {

inline constexpr std::size_t DiscoveryRequestSize = 64;

// The datagram that asks every RK-DX420 on the network to answer: a
// signature, a version, the model name, padded with spaces to 64 bytes.
// Header-only, so the simulator recognises it without linking the panel.
inline std::string DiscoveryRequest()
{
    std::string request = "VORN DISCOVERY  ";
    request.push_back('\x00');
    request.push_back('\x03');
    request += "RK-DX420";
    request.resize(DiscoveryRequestSize, ' ');
    return request;
}

} // namespace lumacast
