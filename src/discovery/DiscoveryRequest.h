#pragma once

#include <cstddef>
#include <string>

namespace lumacast {

inline constexpr std::size_t DiscoveryRequestSize = 64;

// The datagram that asks every RK-DX420 on the network to answer: a
// signature, a version, the model name, padded with spaces to 64 bytes.
std::string DiscoveryRequest();

} // namespace lumacast
