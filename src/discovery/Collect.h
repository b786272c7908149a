#pragma once

#include "platform/NetAddress.h"

#include <chrono>
#include <cstdint>
#include <vector>

namespace lumacast {

class AbortSignal;

// What one discovery collected.
struct Collected {
    enum class Failure { None, PortHeld, Open, Send };
    Failure failure = Failure::None;
    int errorNumber = 0; // the system's, for Open and Send
    std::vector<Endpoint> senders; // once each, in the order they first answered
};

// One discovery as the panel sends it: the request from `localPort` to the
// broadcast address and `remotePort`, then the sender of every datagram that
// reaches the local port within `window`. `stop` ends the window early. The
// calling thread serves the endpoint's hand-offs while it waits.
Collected CollectAnswers(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
                         const AbortSignal &stop);

} // namespace lumacast
