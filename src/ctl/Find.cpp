#include "ctl/Find.h"

#include "discovery/DiscoveryRequest.h"
#include "discovery/UdpServer.h"
#include "platform/AbortSignal.h"
#include "platform/HandOff.h"

#include <algorithm>
#include <system_error>

namespace lumacast::ctl {

Found Discover(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
               const AbortSignal &stop)
{
    Found found;
    bool open = true;
    // Answers are handed to this thread while it waits below, as to the
    // panel's UI thread, through hand-offs of its own.
    const auto handOffs = HandOffQueue::Make();
    UdpServer endpoint(handOffs);
    endpoint.SetPort(localPort);
    endpoint.SetBroadcastEnabled(true);
    endpoint.onRead = [&](UdpListenerThread *, const std::vector<std::uint8_t> &, SocketBinding &binding) {
        if (open &&
            std::find(found.senders.begin(), found.senders.end(), binding.peerIp) == found.senders.end())
            found.senders.push_back(binding.peerIp);
    };
    try {
        endpoint.SetActive(true);
    } catch (const EndpointBindError &) {
        found.portHeld = true;
        return found;
    } catch (const SocketError &e) {
        found.error = "cannot open UDP port " + std::to_string(localPort) + ": " +
            std::generic_category().message(e.ErrorNumber());
        return found;
    }
    const auto end = std::chrono::steady_clock::now() + window;
    try {
        endpoint.Broadcast(DiscoveryRequest(), remotePort);
    } catch (const SocketError &e) {
        found.error =
            "cannot send the discovery request: " + std::generic_category().message(e.ErrorNumber());
        open = false;
        endpoint.SetActive(false);
        return found;
    }
    handOffs->WaitServing([&] { return std::chrono::steady_clock::now() >= end || stop.Signalled(); });
    // What is handed over from here on came too late.
    open = false;
    endpoint.SetActive(false);
    return found;
}

} // namespace lumacast::ctl
