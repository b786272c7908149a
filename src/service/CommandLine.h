#pragma once

#include "service/Config.h"

#include <optional>
#include <string>
#include <vector>

namespace lumacast {

inline constexpr int ServiceExitOk = 0;
inline constexpr int ServiceExitFailed = 1;
inline constexpr int ServiceExitUsage = 2; // a wrong command line or configuration

struct ServiceOptions {
    std::string configFile = DefaultConfigFile;
    bool configGiven = false;
    std::optional<std::string> broker;
    std::vector<std::string> devices; // ID=ADDRESS each
    std::optional<std::string> base;
    bool noHomeAssistant = false;
    bool discover = false;
    bool checkOnly = false;
    bool verbose = false;
};

struct ServiceParsed {
    enum class Kind { Run, Help, Version, UsageError };
    Kind kind = Kind::Run;
    ServiceOptions options;
    std::string text; // the help text, or what is wrong
};

// The arguments after the program's name. Pure.
ServiceParsed ParseServiceCommandLine(const std::vector<std::string> &args);

// The options laid over the file's configuration: devices given replace the
// file's. An error names the option, or the file and line.
std::optional<std::string> ApplyOptions(const ServiceOptions &options, ServiceConfig &config);

} // namespace lumacast
