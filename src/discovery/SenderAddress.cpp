#include "discovery/SenderAddress.h"

#include <cstdio>

namespace lumacast {

std::string SenderAddressText(const Endpoint &sender)
{
    const auto &a = sender.bytes;
    char text[64];
    if (sender.family == IpFamily::IPv4) {
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
        return text;
    }
    std::string out;
    for (int group = 0; group < 8; ++group) {
        std::snprintf(text, sizeof text, group == 0 ? "%X" : ":%X",
                      unsigned(a[2 * group]) << 8 | a[2 * group + 1]);
        out += text;
    }
    return out;
}

} // namespace lumacast
