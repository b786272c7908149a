#pragma once

#include <string>
#include <string_view>

namespace lumacast {

// Where the service's messages go: the broker, or a test's record.
class Outbox {
public:
    // Retained or not; dropped while no broker is connected, since every
    // retained topic is published afresh on the next connect.
    virtual void Publish(const std::string &topic, std::string_view payload, bool retain) = 0;
    virtual void Subscribe(const std::string &pattern) = 0;

protected:
    ~Outbox() = default;
};

} // namespace lumacast
