#pragma once

#include "ctl/CommandLine.h"
#include "discovery/DiscoveryRequest.h"

#include <ostream>
#include <string>
#include <vector>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

// The ports the program talks on; tests move them.
struct Ports {
    std::uint16_t device = DevicePort;
    std::uint16_t discoveryLocal = DiscoveryLocalPort;
    std::uint16_t discoveryRemote = DiscoveryRemotePort;
};

// Runs parsed options to their end and returns the exit status. Results go
// to `out`, each failure named on `err`.
int Run(const Options &options, const Ports &ports, std::ostream &out, std::ostream &err, bool colour,
        AbortSignal &stop);

// The whole program on its arguments (without the program's name): the
// command line, the end signals, the run.
int Main(const std::vector<std::string> &args);

} // namespace lumacast::ctl
