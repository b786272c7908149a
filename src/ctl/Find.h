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
    std::vector<std::string> leftOut; // "ADDRESS: why" for each sender that cannot be a device
};

// One discovery as the panel sends it (CollectAnswers), its senders as the
// panel writes them; those that cannot be a device are left out, since a
// command sent there would reach this machine, or nobody.
Found Discover(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
               const AbortSignal &stop);

} // namespace lumacast::ctl
