#pragma once

#include "broker/BrokerUrl.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast {

inline constexpr const char *DefaultConfigFile = "/etc/lumacast2/lumacast2d.conf";

// One watched device. Its id is all of it that reaches a topic.
struct DeviceEntry {
    std::string id;
    std::string address;
    std::string name; // as people see it; the id where none is given
    // The input select's option texts, one per input: its name, or its number.
    std::vector<std::string> inputs;
    int line = 0; // the line of its section; 0: from the command line
};

struct ServiceConfig {
    BrokerUrl broker{false, "127.0.0.1", 1883};
    std::string username;
    std::string passwordFile;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string clientId; // empty: made from the base
    int keepAliveS = 60;
    MqttVersion mqttVersion = MqttVersion::V311;
    std::string base = "lumacast2";
    bool homeAssistant = true;
    std::string homeAssistantPrefix = "homeassistant";
    bool discover = false;
    int discoverIntervalS = 0; // 0: once, at the start
    std::vector<DeviceEntry> devices;
};

// 1 to 32 characters of a-z, 0-9, _ and -.
bool IsDeviceId(std::string_view id);

// A topic that a base or prefix may be: not empty, no wildcard, no empty level.
bool IsTopicBase(std::string_view topic);

// The inputs' option texts from a comma list of names; the unnamed keep their
// numbers. Empty `why` when they are sound.
std::vector<std::string> ReadInputNames(std::string_view list, std::string &why);

// The text of a configuration file read onto `config`; an error names
// `fileName`, the line and what is wrong.
std::optional<std::string> ReadConfigText(std::string_view text, const std::string &fileName,
                                          ServiceConfig &config);

// "ID=ADDRESS" of the command line.
std::optional<DeviceEntry> ReadDeviceOption(std::string_view text, std::string &why);

// A second device with the same id or the same address; the error names the
// lines of both, or the option.
std::optional<std::string> FindDuplicate(const std::vector<DeviceEntry> &devices,
                                         const std::string &fileName);

// What two texts of one address share: the IPv4 address as a number, or
// the host name in lower case.
std::string AddressKey(const std::string &address);

// The id a discovered device gets from its address: 192.0.2.10 -> rkdx-192-0-2-10.
std::string IdFromAddress(std::string_view address);

} // namespace lumacast
