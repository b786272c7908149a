#include "ctl/Find.h"

#include "discovery/Collect.h"
#include "discovery/DeviceSender.h"
#include "discovery/SenderAddress.h"
#include "platform/LocalNetworks.h"

#include <system_error>

namespace lumacast::ctl {

Found Discover(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
               const AbortSignal &stop)
{
    const Collected collected = CollectAnswers(localPort, remotePort, window, stop);
    Found found;
    const std::string cause = std::generic_category().message(collected.errorNumber);
    switch (collected.failure) {
    case Collected::Failure::None:
        break;
    case Collected::Failure::PortHeld:
        found.portHeld = true;
        return found;
    case Collected::Failure::Open:
        found.error = "cannot open UDP port " + std::to_string(localPort) + ": " + cause;
        return found;
    case Collected::Failure::Send:
        found.error = "cannot send the discovery request: " + cause;
        return found;
    }
    // Asked after the window, so a network that came up meanwhile counts.
    const std::vector<Ipv4Address> broadcasts = LocalBroadcastAddresses();
    for (const Endpoint &sender : collected.senders) {
        const std::string address = SenderAddressText(sender);
        const std::string_view why = NotADevice(sender, broadcasts);
        if (why.empty())
            found.senders.push_back(address);
        else
            found.leftOut.push_back(address + ": " + std::string(why));
    }
    return found;
}

} // namespace lumacast::ctl
