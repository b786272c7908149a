#pragma once

#include <string>
#include <sys/socket.h>

namespace lumacast {

// The text a discovery answer puts into the address list: IPv4 in dotted
// decimal; IPv6 as all eight groups in upper-case hex without leading zeros,
// never shortened, so every IPv6 sender reads the same way (a mapped IPv4
// sender included). Any other family gives an empty text.
std::string SenderAddressText(const sockaddr_storage &sender);

} // namespace lumacast
