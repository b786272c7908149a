#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

// Where the broker listens: mqtt://host[:port] (1883) or mqtts://host[:port]
// (8883); an IPv6 address goes in brackets.
struct BrokerUrl {
    bool tls = false;
    std::string host;
    std::uint16_t port = 0;

    std::string Text() const;
};

enum class MqttVersion { V311, V5 };

// The URL, or nothing with `why` told what is wrong.
std::optional<BrokerUrl> ReadBrokerUrl(std::string_view text, std::string &why);

} // namespace lumacast
