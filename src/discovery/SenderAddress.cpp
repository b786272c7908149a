#include "discovery/SenderAddress.h"

#include <cstdint>
#include <cstdio>
#include <netinet/in.h>

namespace lumacast {

std::string SenderAddressText(const sockaddr_storage &sender)
{
    char text[64];
    if (sender.ss_family == AF_INET) {
        const auto *a =
            reinterpret_cast<const std::uint8_t *>(&reinterpret_cast<const sockaddr_in *>(&sender)->sin_addr);
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        return text;
    }
    if (sender.ss_family == AF_INET6) {
        const auto *a = reinterpret_cast<const sockaddr_in6 *>(&sender)->sin6_addr.s6_addr;
        std::string out;
        for (int group = 0; group < 8; ++group) {
            std::snprintf(text, sizeof text, group == 0 ? "%X" : ":%X",
                          unsigned(a[2 * group]) << 8 | a[2 * group + 1]);
            out += text;
        }
        return out;
    }
    return {};
}

} // namespace lumacast
