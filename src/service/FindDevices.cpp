#include "service/FindDevices.h"

#include "ctl/Find.h"
#include "discovery/DiscoveryRequest.h"

namespace lumacast {

std::vector<std::string> FindDevices(const AbortSignal &stop, std::string &error)
{
    ctl::Found found = ctl::Discover(DiscoveryLocalPort, DiscoveryRemotePort,
                                     std::chrono::milliseconds(DiscoveryWindowMs), stop);
    if (found.portHeld)
        error = "UDP port " + std::to_string(DiscoveryLocalPort) +
            " is in use, most likely by a panel running on this machine";
    else
        error = found.error;
    return std::move(found.senders);
}

} // namespace lumacast
