#include "support/Device.h"

#include <cstdio>
#include <fstream>
#include <string>

namespace lumacast::test {
namespace {

sim::SimOptions OnLoopback(sim::SimOptions options)
{
    options.bind = "127.0.0.1";
    options.port = 0;
    options.noDiscovery = true;
    return options;
}

} // namespace

Device::Device(sim::SimOptions options) : Simulator(OnLoopback(std::move(options)))
{
    Start();
}

bool ConnectPending(std::uint16_t port)
{
    // The system's table of TCP sockets: the remote address is the third
    // column, in hexadecimal, and state 02 is SYN_SENT.
    char remote[32];
    std::snprintf(remote, sizeof remote, "0100007F:%04X", port);
    std::ifstream table("/proc/net/tcp");
    std::string line;
    std::getline(table, line);
    while (std::getline(table, line)) {
        char local[64], peer[64], state[8];
        if (std::sscanf(line.c_str(), "%*s %63s %63s %7s", local, peer, state) == 3 &&
            remote == std::string(peer) && std::string(state) == "02")
            return true;
    }
    return false;
}

} // namespace lumacast::test
