#pragma once

#include "platform/NetAddress.h"

#include <string_view>
#include <vector>

namespace lumacast {

// Why the sender of a discovery answer cannot be a device: an address no host
// sends from (0.0.0.0/8, ::), a broadcast address (255.255.255.255 or one of
// `localBroadcasts`, this machine's networks'), a multicast group (224.0.0.0/4,
// ff00::/8). Empty when it may be one; this machine's own addresses too, since
// a program here may answer as a device does.
std::string_view NotADevice(const Endpoint &sender, const std::vector<Ipv4Address> &localBroadcasts);

} // namespace lumacast
