#include "discovery/Collect.h"

#include "discovery/DiscoveryRequest.h"
#include "discovery/UdpServer.h"
#include "platform/AbortSignal.h"
#include "platform/HandOff.h"

#include <algorithm>

namespace lumacast {

Collected CollectAnswers(std::uint16_t localPort, std::uint16_t remotePort, std::chrono::milliseconds window,
                         const AbortSignal &stop)
{
    Collected collected;
    auto &senders = collected.senders;
    bool open = true;
    // Answers are handed to this thread while it waits below, as to the
    // panel's UI thread, through hand-offs of its own.
    const auto handOffs = HandOffQueue::Make();
    UdpServer endpoint(handOffs);
    endpoint.SetPort(localPort);
    endpoint.SetBroadcastEnabled(true);
    endpoint.onRead = [&](UdpListenerThread *, const std::vector<std::uint8_t> &, SocketBinding &binding) {
        const Endpoint &peer = binding.peer;
        // The sender's port is no part of who it is.
        const bool known = std::any_of(senders.begin(), senders.end(), [&](const Endpoint &seen) {
            return seen.family == peer.family && seen.bytes == peer.bytes;
        });
        if (open && !known)
            senders.push_back(peer);
    };
    try {
        endpoint.SetActive(true);
    } catch (const EndpointBindError &) {
        collected.failure = Collected::Failure::PortHeld;
        return collected;
    } catch (const SocketError &e) {
        collected.failure = Collected::Failure::Open;
        collected.errorNumber = e.ErrorNumber();
        return collected;
    }
    const auto end = std::chrono::steady_clock::now() + window;
    try {
        endpoint.Broadcast(DiscoveryRequest(), remotePort);
    } catch (const SocketError &e) {
        collected.failure = Collected::Failure::Send;
        collected.errorNumber = e.ErrorNumber();
        open = false;
        endpoint.SetActive(false);
        return collected;
    }
    handOffs->WaitServing([&] { return std::chrono::steady_clock::now() >= end || stop.Signalled(); });
    // What is handed over from here on came too late.
    open = false;
    endpoint.SetActive(false);
    return collected;
}

} // namespace lumacast
