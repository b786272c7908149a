#pragma once

#include "platform/NetAddress.h"

#include <vector>

namespace lumacast {

// The broadcast addresses of this machine's IPv4 networks as the system
// reports them now: each one set, and each network's last address, which the
// system takes for one too. Throws std::system_error when it cannot tell.
std::vector<Ipv4Address> LocalBroadcastAddresses();

} // namespace lumacast
