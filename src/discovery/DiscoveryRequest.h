#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumacast {

inline constexpr std::size_t DiscoveryRequestSize = 64;

// A discovery goes out from the local port to the devices' port; every
// datagram that reaches the local port within the window is an answer.
inline constexpr std::uint16_t DiscoveryLocalPort = 50008;
inline constexpr std::uint16_t DiscoveryRemotePort = 54321;
inline constexpr int DiscoveryWindowMs = 1500;

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
