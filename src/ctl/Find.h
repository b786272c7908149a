#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

struct Found {
    bool portHeld = false; // the local port is held: a panel runs here, most likely
    std::string error; // any other failure, plainly
    std::vector<std::string> senders; // once each, in the order they answered
};

// One discovery as the panel sends it: the request from `localPort` to the
// broadcast address and `remotePort`, then every sender of a datagram that
// reaches the local port within `window`. `stop` ends the window early.
Found Discover(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
               const AbortSignal &stop);

} // namespace lumacast::ctl
