#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

struct WatchSettings {
    std::uint16_t port = 50000;
    std::chrono::milliseconds timeout{5000}; // for each connect, host-name lookup included
    bool json = false; // JSON Lines instead of a line for people
    bool once = false; // end when every target has ended, instead of trying again
};

// Keeps a session with every target open for ever and prints each change as
// it happens: connected, a changed state, an end. Until `stop`: exit 0.
// With `once`, returns when every target has ended: 1 when any ended for a
// fault. An output that cannot be written ends the watch (signalling `stop`)
// with 1.
int RunWatch(const std::vector<std::string> &targets, const WatchSettings &settings, std::ostream &out,
             std::ostream &err, AbortSignal &stop);

} // namespace lumacast::ctl
