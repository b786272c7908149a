#pragma once

#include "link/Protocol.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lumacast::ctl {

enum class Command { Find, Status, Watch, Power, Lamp, Mute, Input };

inline constexpr int ExitOk = 0;
inline constexpr int ExitFailed = 1;
inline constexpr int ExitUsage = 2;

// A script must never hang on a device that does not answer.
inline constexpr std::chrono::milliseconds DefaultConnectTimeout{5000};

// The broker a command goes through when no --broker is given.
inline constexpr const char *BrokerVariable = "LUMACAST2_BROKER";
inline constexpr const char *DefaultBase = "lumacast2";

struct Options {
    Command command = Command::Status;
    // The command a frame carries: on "1", off "0", or the input's digit.
    PendingCommands pending;
    std::vector<std::string> targets;
    bool all = false;
    bool json = false;
    // watch: end when every target has ended, instead of trying again.
    bool once = false;
    std::chrono::milliseconds timeout = DefaultConnectTimeout;
    std::optional<std::chrono::milliseconds> wait;
    std::chrono::milliseconds discoveryWindow;
    // The lumacast2d service's MQTT broker (mqtt:// or mqtts://): the command
    // goes through it instead of taking the device's connection.
    std::optional<std::string> broker;
    std::string base = DefaultBase; // the service's topics begin with it
};

struct Parsed {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::Run;
    Options options;
    std::string text; // the help text, or what is wrong with the command line
};

// The arguments after the program's name, and the value of BrokerVariable
// (empty when it is not set). Pure.
Parsed ParseCommandLine(const std::vector<std::string> &args, std::string_view brokerVariable = {});

// Each command's name with every option it takes, in the command table's
// order: what the man page and the completion must tell of.
std::vector<std::pair<std::string, std::vector<std::string>>> CommandOptionNames();

// The options that take a value, in the table's order.
std::vector<std::string> ValueOptionNames();

} // namespace lumacast::ctl
