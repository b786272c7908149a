#pragma once

#include "Simulator.h"

#include <cstdint>

namespace lumacast::test {

// The simulated device in this process, on 127.0.0.1 and a port of the
// system's choice, without a discovery responder, served from a thread of
// its own while it lives. Its modes are the simulator's options.
class Device : public sim::Simulator {
public:
    explicit Device(sim::SimOptions options = {});

    std::uint16_t Port() const { return ControlPort(); }
};

// True while a connect attempt from this host to 127.0.0.1:`port` waits for
// its answer, as one to a device with --stall does.
bool ConnectPending(std::uint16_t port);

} // namespace lumacast::test
