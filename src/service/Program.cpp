#include "service/Program.h"

#include "ProgramInfo.h"
#include "broker/BrokerClient.h"
#include "platform/AbortSignal.h"
#include "platform/EndSignals.h"
#include "platform/OpenFileLimit.h"
#include "platform/SecretFile.h"
#include "service/CommandLine.h"
#include "service/FindDevices.h"
#include "service/HomeAssistant.h"
#include "service/Log.h"
#include "service/Service.h"

#include <cerrno>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

namespace lumacast {
namespace {

// What the broker's end may take after the devices': the last messages out.
constexpr std::chrono::milliseconds BrokerEndLimit{400};
// A descriptor per device, the broker's and a few of the process's own.
constexpr std::uint64_t WantedOpenFiles = 65536;

// The configuration the file and the options give, or what is wrong with it.
std::optional<std::string> LoadConfig(const ServiceOptions &options, ServiceConfig &config)
{
    std::ifstream file(options.configFile, std::ios::binary);
    if (file) {
        std::ostringstream text;
        text << file.rdbuf();
        if (auto error = ReadConfigText(text.str(), options.configFile, config))
            return error;
    } else if (options.configGiven || options.devices.empty()) {
        // Devices on the command line need no file, unless one is named.
        return "cannot read " + options.configFile + ": " + std::generic_category().message(errno);
    }
    return ApplyOptions(options, config);
}

void AddFound(Service &service, Log &log, const AbortSignal &stop)
{
    std::string error;
    const std::vector<std::string> found = FindDevices(stop, error);
    if (!error.empty()) {
        log.Line("discovery failed: " + error);
        return;
    }
    for (const std::string &address : found) {
        if (service.WatchesAddress(address))
            continue;
        DeviceEntry entry;
        entry.id = IdFromAddress(address);
        entry.address = address;
        entry.name = entry.id;
        std::string unused;
        entry.inputs = ReadInputNames("", unused);
        if (service.AddDevice(entry))
            log.Line(entry.id + " (" + address + "): found by discovery");
    }
}

int Run(const ServiceConfig &config, const std::string &password, bool verbose)
{
    // Before any thread exists, so that only the watcher sees them.
    BlockEndSignals();
    Log log(std::cerr);
    const std::uint64_t openFiles = RaiseOpenFileLimit(WantedOpenFiles);
    if (openFiles < config.devices.size() + 64)
        log.Line("only " + std::to_string(openFiles) + " open files are allowed; " +
                 std::to_string(config.devices.size()) + " devices need about " +
                 std::to_string(config.devices.size() + 64));

    ServiceSettings settings;
    settings.base = config.base;
    settings.homeAssistant = config.homeAssistant;
    settings.homeAssistantPrefix = config.homeAssistantPrefix;
    settings.brokerText = config.broker.Text();
    settings.verbose = verbose;
    Service service(settings, log);

    BrokerSettings broker;
    broker.url = config.broker;
    broker.username = config.username;
    broker.password = password;
    broker.caFile = config.caFile;
    broker.certFile = config.certFile;
    broker.keyFile = config.keyFile;
    broker.clientId = config.clientId.empty() ? "lumacast2d-" + NodeId(config.base) : config.clientId;
    broker.keepAliveS = config.keepAliveS;
    broker.version = config.mqttVersion;
    broker.willTopic = config.base + "/bridge/availability";
    std::optional<BrokerClient> client;
    try {
        client.emplace(broker, service);
    } catch (const std::runtime_error &e) {
        std::cerr << "lumacast2d: " << e.what() << '\n';
        return ServiceExitUsage;
    }
    service.Attach(*client);

    AbortSignal stop;
    EndSignalThread signals([&stop] { stop.Signal(); });
    // The first discovery before the broker, so that the retained entities of
    // a device found again are not taken for those of a device gone.
    if (config.discover)
        AddFound(service, log, stop);
    for (const DeviceEntry &d : config.devices)
        service.AddDevice(d);
    log.Line("watching " + std::to_string(service.DeviceCount()) + " devices; broker " + settings.brokerText +
             ", base " + config.base);
    client->Start();

    const unsigned interval = static_cast<unsigned>(config.discoverIntervalS) * 1000U;
    while (!stop.WaitFor(config.discover && interval > 0 ? interval : 60000U))
        if (config.discover && interval > 0)
            AddFound(service, log, stop);

    service.Stop();
    client->Stop(BrokerEndLimit);
    log.Line("ended");
    return ServiceExitOk;
}

} // namespace

int ServiceMain(const std::vector<std::string> &args)
{
    const ServiceParsed parsed = ParseServiceCommandLine(args);
    switch (parsed.kind) {
    case ServiceParsed::Kind::Help:
        std::cout << parsed.text;
        return ServiceExitOk;
    case ServiceParsed::Kind::Version:
        std::cout << "lumacast2d " << LC_PROGRAM_VERSION << '\n';
        return ServiceExitOk;
    case ServiceParsed::Kind::UsageError:
        std::cerr << "lumacast2d: " << parsed.text << '\n';
        return ServiceExitUsage;
    case ServiceParsed::Kind::Run:
        break;
    }
    ServiceConfig config;
    if (auto error = LoadConfig(parsed.options, config)) {
        std::cerr << "lumacast2d: " << *error << '\n';
        return ServiceExitUsage;
    }
    std::string password;
    if (!config.passwordFile.empty()) {
        std::string why;
        const auto secret = ReadSecretFile(config.passwordFile, why);
        if (!secret) {
            std::cerr << "lumacast2d: " << parsed.options.configFile << ": password-file '"
                      << config.passwordFile << "': " << why << '\n';
            return ServiceExitUsage;
        }
        password = *secret;
    }
    if (parsed.options.checkOnly) {
        std::cout << parsed.options.configFile << ": good; " << config.devices.size() << " devices, broker "
                  << config.broker.Text() << '\n';
        return ServiceExitOk;
    }
    try {
        return Run(config, password, parsed.options.verbose);
    } catch (const std::exception &e) {
        std::cerr << "lumacast2d: " << e.what() << '\n';
        return ServiceExitFailed;
    }
}

} // namespace lumacast
