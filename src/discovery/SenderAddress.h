#pragma once

#include "platform/NetAddress.h"

#include <string>

namespace lumacast {

// The text a discovery answer puts into the address list: IPv4 in dotted
// decimal; IPv6 as all eight groups in upper-case hex without leading zeros,
// never shortened, so every IPv6 sender reads the same way (a mapped IPv4
// sender included).
std::string SenderAddressText(const Endpoint &sender);

} // namespace lumacast
