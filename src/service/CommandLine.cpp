#include "service/CommandLine.h"

namespace lumacast {
namespace {

constexpr const char *Help = R"(Usage: lumacast2d [OPTION]...
Watches every RK-DX420 device it is given, for ever, and shares their state and
commands over an MQTT broker, with Home Assistant's discovery.

  --config FILE        the configuration (default /etc/lumacast2/lumacast2d.conf)
  --broker URL         mqtt://HOST[:PORT] or mqtts://HOST[:PORT]
  --device ID=ADDRESS  a device to watch; given once or more, they replace the file's
  --base TOPIC         the topics' base (default lumacast2)
  --no-homeassistant   publish no Home Assistant discovery configurations
  --discover           also watch every device that answers a discovery
  --check-config       check the configuration, start nothing
  --verbose            log each command a frame carries
  --help               this text
  --version            the version

Exit status: 0 ended in order, 1 failed, 2 a wrong command line or configuration.
man lumacast2d and man lumacast2d.conf tell the rest.
)";

} // namespace

ServiceParsed ParseServiceCommandLine(const std::vector<std::string> &args)
{
    ServiceParsed parsed;
    ServiceOptions &o = parsed.options;
    const auto usage = [&](const std::string &text) {
        parsed.kind = ServiceParsed::Kind::UsageError;
        parsed.text = text + " (see --help)";
        return parsed;
    };
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::optional<std::string> inlineValue;
        if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
            inlineValue = arg.substr(equals + 1);
            arg.resize(equals);
        }
        const auto value = [&]() -> std::optional<std::string> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            parsed.kind = ServiceParsed::Kind::Help;
            parsed.text = Help;
            return parsed;
        }
        if (arg == "--version") {
            parsed.kind = ServiceParsed::Kind::Version;
            return parsed;
        }
        const bool takesValue =
            arg == "--config" || arg == "--broker" || arg == "--device" || arg == "--base";
        if (takesValue) {
            const auto v = value();
            if (!v)
                return usage(arg + " needs a value");
            if (arg == "--config") {
                o.configFile = *v;
                o.configGiven = true;
            } else if (arg == "--broker") {
                o.broker = *v;
            } else if (arg == "--device") {
                o.devices.push_back(*v);
            } else {
                o.base = *v;
            }
            continue;
        }
        if (inlineValue)
            return usage(arg + " takes no value");
        if (arg == "--no-homeassistant")
            o.noHomeAssistant = true;
        else if (arg == "--discover")
            o.discover = true;
        else if (arg == "--check-config")
            o.checkOnly = true;
        else if (arg == "--verbose")
            o.verbose = true;
        else
            return usage("unknown argument '" + arg + "'");
    }
    return parsed;
}

std::optional<std::string> ApplyOptions(const ServiceOptions &options, ServiceConfig &config)
{
    std::string why;
    if (options.broker) {
        const auto url = ReadBrokerUrl(*options.broker, why);
        if (!url)
            return "--broker " + why;
        config.broker = *url;
    }
    if (options.base) {
        if (!IsTopicBase(*options.base))
            return "--base '" + *options.base +
                "' is not a topic: it must not be empty, hold + or #, or an empty level";
        config.base = *options.base;
    }
    if (options.noHomeAssistant)
        config.homeAssistant = false;
    if (options.discover)
        config.discover = true;
    if (!options.devices.empty()) {
        config.devices.clear();
        for (const auto &text : options.devices) {
            const auto device = ReadDeviceOption(text, why);
            if (!device)
                return why;
            config.devices.push_back(*device);
        }
        if (auto duplicate = FindDuplicate(config.devices, options.configFile))
            return duplicate;
    }
    if (config.devices.empty() && !config.discover)
        return options.configFile +
            ": no device to watch: name them in [device ID] sections or with --device, "
            "or turn discovery on";
    if (!config.passwordFile.empty() && config.username.empty())
        return options.configFile + ": password-file is set, but no username";
    return std::nullopt;
}

} // namespace lumacast
