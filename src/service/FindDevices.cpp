#include "service/FindDevices.h"

#include "discovery/Collect.h"
#include "discovery/DeviceSender.h"
#include "discovery/DiscoveryRequest.h"
#include "discovery/SenderAddress.h"
#include "platform/LocalNetworks.h"

#include <system_error>

namespace lumacast {

std::vector<std::string> FindDevices(const AbortSignal &stop, std::string &error)
{
    const Collected collected = CollectAnswers(DiscoveryLocalPort, DiscoveryRemotePort,
                                               std::chrono::milliseconds(DiscoveryWindowMs), stop);
    const std::string cause = std::generic_category().message(collected.errorNumber);
    switch (collected.failure) {
    case Collected::Failure::None:
        break;
    case Collected::Failure::PortHeld:
        error = "UDP port " + std::to_string(DiscoveryLocalPort) +
            " is in use, most likely by a panel running on this machine";
        return {};
    case Collected::Failure::Open:
        error = "cannot open UDP port " + std::to_string(DiscoveryLocalPort) + ": " + cause;
        return {};
    case Collected::Failure::Send:
        error = "cannot send the discovery request: " + cause;
        return {};
    }
    // A sender that cannot be a device is never watched: a session there
    // would reach this machine, or nobody.
    const std::vector<Ipv4Address> broadcasts = LocalBroadcastAddresses();
    std::vector<std::string> found;
    for (const Endpoint &sender : collected.senders)
        if (NotADevice(sender, broadcasts).empty())
            found.push_back(SenderAddressText(sender));
    return found;
}

} // namespace lumacast
