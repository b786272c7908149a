#include "discovery/DiscoveryRequest.h"

namespace lumacast {

std::string DiscoveryRequest()
{
    std::string request = "VORN DISCOVERY  ";
    request.push_back('\x00');
    request.push_back('\x03');
    request += "RK-DX420";
    request.resize(DiscoveryRequestSize, ' ');
    return request;
}

} // namespace lumacast
