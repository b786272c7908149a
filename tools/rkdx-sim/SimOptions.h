#pragma once

#include "DeviceModel.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast::sim {

struct SimOptions {
    std::string bind = "0.0.0.0"; // IPv4 address for both the control port and discovery
    // --devices: one device on each of these addresses, all in one process;
    // empty: the one device on `bind`.
    std::vector<std::string> devices{};
    std::uint16_t port = 50000; // 0: a port the system chooses
    std::uint16_t discoveryPort = 54321;
    // What the control port does with a connection; at most one of these.
    bool refuse = false; // bound, not listening: every connect is refused
    bool stall = false; // the accept queue is full: every connect stays pending
    bool neverRead = false; // accepts and holds it: never reads, never sends
    bool stream = false; // never reads; sends status replies padded to 64 KiB without pause
    std::size_t streamLimit = 0; // bytes per connection after which --stream holds; 0: no end
    bool noDiscovery = false;
    // A device of a fleet: answers discoveries that reach the wildcard
    // address (broadcasts) as well as those sent to `bind`, always from `bind`.
    bool answerBroadcasts = false;
    std::string discoveryAnswer = "RK-DX420";
    Millis warmUp{3000};
    bool silent = false;
    Millis delay{0};
    bool split = false;
    Millis splitGap{150};
    ReplyFault fault{};
    int closeAfter = 0; // 0: never
    int resetAfter = 0; // 0: never
    bool help = false;
};

struct ParsedOptions {
    std::optional<SimOptions> options; // empty when `error` says why
    std::string error;
};

// The most addresses that --devices takes.
inline constexpr std::size_t MaxDevices = 1024;

// Reads the command line without the program name. Accepts "--name value"
// and "--name=value".
ParsedOptions ParseOptions(const std::vector<std::string_view> &args);

std::string HelpText(std::string_view program);

} // namespace lumacast::sim
