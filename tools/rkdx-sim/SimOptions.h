#pragma once

#include "DeviceModel.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast::sim {

struct SimOptions {
    std::string bind = "0.0.0.0"; // IPv4 address for both the control port and discovery
    std::uint16_t port = 50000; // 0: a port the system chooses
    std::uint16_t discoveryPort = 54321;
    bool refuse = false; // no control port at all
    bool noDiscovery = false;
    std::string discoveryAnswer = "RK-DX420";
    Millis warmUp{3000};
    bool silent = false;
    Millis delay{0};
    bool split = false;
    Millis splitGap{150};
    ReplyFault fault;
    int closeAfter = 0; // 0: never
    int resetAfter = 0; // 0: never
    bool help = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options; // empty when `error` says why
    std::string error;
};

// Reads the command line without the program name. Accepts "--name value"
// and "--name=value".
ParsedOptions ParseOptions(const std::vector<std::string_view> &args);

std::string HelpText(std::string_view program);

} // namespace lumacast::sim
