#include "broker/BrokerUrl.h"

#include <charconv>

namespace lumacast {

std::string BrokerUrl::Text() const
{
    const bool v6 = host.find(':') != std::string::npos;
    return std::string(tls ? "mqtts://" : "mqtt://") + (v6 ? "[" + host + "]" : host) + ":" +
        std::to_string(port);
}

std::optional<BrokerUrl> ReadBrokerUrl(std::string_view text, std::string &why)
{
    BrokerUrl url;
    std::string_view rest = text;
    if (rest.starts_with("mqtt://")) {
        rest.remove_prefix(7);
        url.port = 1883;
    } else if (rest.starts_with("mqtts://")) {
        rest.remove_prefix(8);
        url.tls = true;
        url.port = 8883;
    } else {
        why = "'" + std::string(text) + "' is not a broker URL: it begins with mqtt:// or mqtts://";
        return std::nullopt;
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    const auto bad = [&](std::string_view what) {
        why = "'" + std::string(text) + "': " + std::string(what);
        return std::nullopt;
    };
    const bool bracketed = rest.starts_with('[');
    std::string_view host = rest;
    std::optional<std::string_view> port;
    if (bracketed) {
        const auto close = rest.find(']');
        if (close == std::string_view::npos)
            return bad("the IPv6 address has no closing ]");
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty() && after.front() != ':')
            return bad("only a port may follow the host");
        if (!after.empty())
            port = after.substr(1);
    } else if (const auto colon = rest.find(':'); colon != std::string_view::npos) {
        host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
    }
    if (host.empty())
        return bad("no host");
    for (const char c : host) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-' || c == '_' || (bracketed && c == ':');
        if (!allowed)
            return bad("the host holds '" + std::string(1, c) +
                       "'; a user name or a path belongs in the configuration, not the URL");
    }
    url.host = host;
    if (port) {
        unsigned value = 0;
        const auto [end, ec] = std::from_chars(port->data(), port->data() + port->size(), value);
        if (port->empty() || ec != std::errc() || end != port->data() + port->size() || value == 0 ||
            value > 65535)
            return bad("the port is not a number from 1 to 65535");
        url.port = static_cast<std::uint16_t>(value);
    }
    return url;
}

} // namespace lumacast
