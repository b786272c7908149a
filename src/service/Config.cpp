#include "service/Config.h"

#include "link/AddressValidation.h"
#include "link/DeviceSession.h"
#include "link/Protocol.h"
#include "service/Utf8.h"

#include <algorithm>
#include <charconv>
#include <unordered_map>

namespace lumacast {
namespace {

constexpr std::size_t LongestName = 64;

std::string_view Trimmed(std::string_view text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string_view::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::string Quoted(std::string_view text)
{
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '\'';
    quoted += text;
    quoted += '\'';
    return quoted;
}

// A person's text: UTF-8, no control character, and none of the characters
// that a Home Assistant template or a topic would read as its own.
std::string NameFault(std::string_view name)
{
    if (name.empty())
        return "is empty";
    if (name.size() > LongestName)
        return "is longer than " + std::to_string(LongestName) + " bytes";
    if (!IsUtf8(name))
        return "is not UTF-8";
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            return "holds a control character";
        if (c == '"' || c == '\\' || c == '{' || c == '}' || c == '%')
            return std::string("holds '") + c + "'";
    }
    return {};
}

std::string AddressFault(std::string_view address)
{
    if (address.empty())
        return "is empty";
    if (address.find(':') != std::string_view::npos)
        return "is an IPv6 address; the device speaks IPv4";
    if (address.size() > 253)
        return "is longer than a host name can be";
    for (const char c : address) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '.' || c == '-';
        if (!allowed)
            return std::string("holds '") + c + "'";
    }
    return {};
}

std::optional<bool> ReadSwitch(std::string_view value)
{
    for (const char *on : {"on", "yes", "true"})
        if (value == on)
            return true;
    for (const char *off : {"off", "no", "false"})
        if (value == off)
            return false;
    return std::nullopt;
}

std::optional<int> ReadCount(std::string_view value, int low, int high)
{
    int n = 0;
    const auto [end, ec] = std::from_chars(value.data(), value.data() + value.size(), n);
    if (value.empty() || ec != std::errc() || end != value.data() + value.size() || n < low || n > high)
        return std::nullopt;
    return n;
}

// One global setting; empty when it is sound.
std::string ReadGlobal(std::string_view key, std::string_view value, ServiceConfig &config)
{
    std::string why;
    if (key == "broker") {
        if (auto url = ReadBrokerUrl(value, why))
            config.broker = *url;
        return why;
    }
    struct Text {
        const char *key;
        std::string ServiceConfig::*field;
    };
    for (const Text &t :
         {Text{"username", &ServiceConfig::username}, Text{"password-file", &ServiceConfig::passwordFile},
          Text{"ca-file", &ServiceConfig::caFile}, Text{"cert-file", &ServiceConfig::certFile},
          Text{"key-file", &ServiceConfig::keyFile}, Text{"client-id", &ServiceConfig::clientId}}) {
        if (key != t.key)
            continue;
        if (value.empty() || !IsUtf8(value) || value.size() > 4096)
            return "needs a value";
        config.*t.field = value;
        return {};
    }
    if (key == "keep-alive") {
        const auto n = ReadCount(value, 5, 3600);
        if (!n)
            return Quoted(value) + " is not a number of seconds from 5 to 3600";
        config.keepAliveS = *n;
        return {};
    }
    if (key == "mqtt-version") {
        if (value != "3.1.1" && value != "5")
            return Quoted(value) + " is neither 3.1.1 nor 5";
        config.mqttVersion = value == "5" ? MqttVersion::V5 : MqttVersion::V311;
        return {};
    }
    if (key == "base" || key == "homeassistant-prefix") {
        if (!IsTopicBase(value))
            return Quoted(value) + " is not a topic: it must not be empty, hold + or #, or an empty level";
        (key == "base" ? config.base : config.homeAssistantPrefix) = value;
        return {};
    }
    if (key == "homeassistant" || key == "discover") {
        const auto on = ReadSwitch(value);
        if (!on)
            return Quoted(value) + " is neither on nor off";
        (key == "discover" ? config.discover : config.homeAssistant) = *on;
        return {};
    }
    if (key == "discover-interval") {
        const auto n = ReadCount(value, 0, 86400);
        if (!n || (*n > 0 && *n < 10))
            return Quoted(value) + " is not 0 or a number of seconds from 10 to 86400";
        config.discoverIntervalS = *n;
        return {};
    }
    return "unknown setting " + Quoted(key);
}

std::string ReadDeviceSetting(std::string_view key, std::string_view value, DeviceEntry &device)
{
    if (key == "address") {
        if (const std::string fault = AddressFault(value); !fault.empty())
            return "the address " + Quoted(value) + " " + fault;
        device.address = value;
        return {};
    }
    if (key == "name") {
        if (const std::string fault = NameFault(value); !fault.empty())
            return "the name " + fault;
        device.name = value;
        return {};
    }
    if (key == "inputs") {
        std::string why;
        device.inputs = ReadInputNames(value, why);
        return why;
    }
    return "unknown device setting " + Quoted(key) + " (address, name and inputs are)";
}

std::vector<std::string> NumberedInputs()
{
    std::vector<std::string> inputs;
    for (int i = 1; i <= InputCount; ++i)
        inputs.push_back(std::to_string(i));
    return inputs;
}

} // namespace

bool IsDeviceId(std::string_view id)
{
    return !id.empty() && id.size() <= 32 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

bool IsTopicBase(std::string_view topic)
{
    if (topic.empty() || topic.size() > 200 || !IsUtf8(topic) || topic.front() == '/' ||
        topic.back() == '/' || topic.find("//") != std::string_view::npos)
        return false;
    return std::none_of(topic.begin(), topic.end(), [](char c) {
        return c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
}

std::vector<std::string> ReadInputNames(std::string_view list, std::string &why)
{
    std::vector<std::string> inputs = NumberedInputs();
    int index = 0;
    for (std::size_t start = 0; start <= list.size(); ++index) {
        auto comma = list.find(',', start);
        if (comma == std::string_view::npos)
            comma = list.size();
        const std::string_view name = Trimmed(list.substr(start, comma - start));
        start = comma + 1;
        if (index >= InputCount) {
            why = "more than " + std::to_string(InputCount) + " input names";
            return {};
        }
        // An empty place leaves that input its number.
        if (name.empty())
            continue;
        if (const std::string fault = NameFault(name); !fault.empty()) {
            why = "input name " + std::to_string(index + 1) + " " + fault;
            return {};
        }
        // A digit that is another input's number would select that input.
        const auto number = ReadCount(name, 1, InputCount);
        if (number && *number != index + 1) {
            why = "input name " + Quoted(name) + " reads as input " + std::string(name);
            return {};
        }
        if (std::find(inputs.begin(), inputs.begin() + index, name) != inputs.begin() + index) {
            why = "input name " + Quoted(name) + " is given twice";
            return {};
        }
        inputs[static_cast<std::size_t>(index)] = name;
    }
    return inputs;
}

std::optional<std::string> ReadConfigText(std::string_view text, const std::string &fileName,
                                          ServiceConfig &config)
{
    config.devices.clear();
    DeviceEntry *device = nullptr;
    int line = 0;
    const auto error = [&](const std::string &what) {
        return fileName + ":" + std::to_string(line) + ": " + what;
    };
    const auto deviceDone = [&]() -> std::optional<std::string> {
        if (device != nullptr && device->address.empty())
            return fileName + ":" + std::to_string(device->line) + ": device " + Quoted(device->id) +
                " has no address";
        return std::nullopt;
    };
    for (std::size_t start = 0; start < text.size();) {
        auto end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view row = Trimmed(text.substr(start, end - start));
        start = end + 1;
        ++line;
        if (row.empty() || row.front() == '#' || row.front() == ';')
            continue;
        if (row.front() == '[') {
            if (auto missing = deviceDone())
                return missing;
            if (row.back() != ']')
                return error("a section header ends with ]");
            const std::string_view inner = Trimmed(row.substr(1, row.size() - 2));
            if (!inner.starts_with("device ") && !inner.starts_with("device\t"))
                return error("unknown section " + Quoted(row) + "; a device's section is [device ID]");
            const std::string_view id = Trimmed(inner.substr(7));
            if (!IsDeviceId(id))
                return error(Quoted(id) + " is not a device id: 1 to 32 characters of a-z, 0-9, _ and -");
            DeviceEntry entry;
            entry.id = id;
            entry.name = id;
            entry.inputs = NumberedInputs();
            entry.line = line;
            config.devices.push_back(std::move(entry));
            device = &config.devices.back();
            continue;
        }
        const auto equals = row.find('=');
        if (equals == std::string_view::npos)
            return error(Quoted(row) + " is neither a setting (key = value) nor a section");
        const std::string_view key = Trimmed(row.substr(0, equals));
        const std::string_view value = Trimmed(row.substr(equals + 1));
        const std::string fault =
            device != nullptr ? ReadDeviceSetting(key, value, *device) : ReadGlobal(key, value, config);
        if (!fault.empty())
            return error(std::string(key) + ": " + fault);
    }
    if (auto missing = deviceDone())
        return missing;
    return FindDuplicate(config.devices, fileName);
}

std::optional<DeviceEntry> ReadDeviceOption(std::string_view text, std::string &why)
{
    const auto equals = text.find('=');
    if (equals == std::string_view::npos) {
        why = "--device " + Quoted(text) + ": give it as ID=ADDRESS";
        return std::nullopt;
    }
    DeviceEntry entry;
    entry.id = text.substr(0, equals);
    entry.address = text.substr(equals + 1);
    entry.name = entry.id;
    entry.inputs = NumberedInputs();
    if (!IsDeviceId(entry.id)) {
        why = "--device " + Quoted(text) + ": " + Quoted(entry.id) +
            " is not a device id: 1 to 32 characters of a-z, 0-9, _ and -";
        return std::nullopt;
    }
    if (const std::string fault = AddressFault(entry.address); !fault.empty()) {
        why = "--device " + Quoted(text) + ": the address " + fault;
        return std::nullopt;
    }
    return entry;
}

std::optional<std::string> FindDuplicate(const std::vector<DeviceEntry> &devices, const std::string &fileName)
{
    const auto where = [&](const DeviceEntry &d) {
        return d.line == 0 ? "--device " + d.id + "=" + d.address : fileName + ":" + std::to_string(d.line);
    };
    std::unordered_map<std::string, std::size_t> ids;
    std::unordered_map<std::string, std::size_t> addresses;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const DeviceEntry &d = devices[i];
        if (const auto [first, added] = ids.emplace(d.id, i); !added)
            return where(d) + ": the device id " + Quoted(d.id) + " is given twice (first at " +
                where(devices[first->second]) + ")";
        if (const auto [first, added] = addresses.emplace(AddressKey(d.address), i); !added)
            return where(d) + ": the address " + Quoted(d.address) + " is given twice (first at " +
                where(devices[first->second]) + ")";
    }
    return std::nullopt;
}

std::string AddressKey(const std::string &address)
{
    if (const auto v4 = ReadConnectAddress(AddressText(address)))
        return std::to_string(*v4);
    std::string key = address;
    std::transform(key.begin(), key.end(), key.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return key;
}

std::string IdFromAddress(std::string_view address)
{
    std::string id = "rkdx-";
    for (const char c : address)
        id += c == '.' ? '-' : c;
    return id;
}

} // namespace lumacast
