#pragma once

#include "platform/NetAddress.h"

#include <vector>

namespace lumacast {

// The broadcast address of each of this machine's IPv4 networks that has one,
// as the system reports them now. Throws std::system_error when it cannot tell.
std::vector<Ipv4Address> LocalBroadcastAddresses();

} // namespace lumacast
