#pragma once

#include "platform/UdpSocket.h"

#include <cstdint>
#include <memory>
#include <string>

namespace lumacast {

// One declared socket of the endpoint. While a datagram is handed over it
// also carries that datagram's sender.
struct SocketBinding {
    explicit SocketBinding(IpFamily aFamily) : Family(aFamily) { }
    const IpFamily Family;
    std::string PeerIP;
    std::uint16_t PeerPort = 0;
    std::unique_ptr<UdpSocket> Socket; // open while the endpoint is active
};

} // namespace lumacast
