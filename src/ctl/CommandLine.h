#pragma once

#include "link/Protocol.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace lumacast::ctl {

enum class Command { Find, Status, Power, Lamp, Mute, Input };

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// A script must never hang on a device that does not answer.
inline constexpr std::chrono::milliseconds DefaultConnectTimeout{5000};

struct Options {
    Command command = Command::Status;
    // The command a frame carries: on "1", off "0", or the input's digit.
    PendingCommands pending;
    std::vector<std::string> targets;
    bool all = false;
    bool json = false;
    std::chrono::milliseconds timeout = DefaultConnectTimeout;
    std::optional<std::chrono::milliseconds> wait;
    std::chrono::milliseconds discoveryWindow;
};

struct Parsed {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::Run;
    Options options;
    std::string text; // the help text, or what is wrong with the command line
};

// The arguments after the program's name. Pure.
Parsed ParseCommandLine(const std::vector<std::string> &args);

} // namespace lumacast::ctl
