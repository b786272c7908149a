#pragma once

#include "platform/UdpSocket.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lumacast {

// One declared socket of the endpoint. While a datagram is handed over it
// also carries that datagram's sender.
struct SocketBinding {
    explicit SocketBinding(IpFamily family) : family(family) { }
    const IpFamily family;
    std::string peerIp;
    std::uint16_t peerPort = 0;
    Endpoint peer; // the same sender as the system reported it
    std::unique_ptr<UdpSocket> socket; // open while the endpoint is active
};

} // namespace lumacast
