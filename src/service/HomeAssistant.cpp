#include "service/HomeAssistant.h"

#include "ProgramInfo.h"
#include "link/DeviceState.h"

#include <array>

namespace lumacast {
namespace {

struct Entity {
    const char *component;
    const char *object; // after the id: ID_power
    const char *name;
};

constexpr std::array<Entity, 5> Entities{{{"switch", "power", "Power"},
                                          {"switch", "lamp", "Lamp"},
                                          {"switch", "mute", "Mute"},
                                          {"select", "input", "Input"},
                                          {"binary_sensor", "connected", "Connection"}}};

std::string Topic(const Entity &e, std::string_view id, std::string_view node, std::string_view prefix)
{
    return std::string(prefix) + "/" + e.component + "/" + std::string(node) + "/" + std::string(id) + "_" +
        e.object + "/config";
}

std::string Availability(std::string_view base, std::string_view id, bool ofDevice)
{
    const std::string bridge = "{\"topic\": " + JsonString(std::string(base) + "/bridge/availability") + "}";
    if (!ofDevice)
        return "\"availability\": [" + bridge + "]";
    return "\"availability\": [" + bridge +
        ", {\"topic\": " + JsonString(std::string(base) + "/" + std::string(id) + "/availability") +
        "}], \"availability_mode\": \"all\"";
}

std::string Body(const Entity &e, const DeviceEntry &d, std::string_view base, std::string_view node)
{
    const std::string prefix = std::string(base) + "/" + d.id + "/";
    const std::string uniqueId = std::string(node) + "_" + d.id + "_" + e.object;
    std::string body = "{\"name\": " + JsonString(e.name) + ", \"unique_id\": " + JsonString(uniqueId) +
        ", \"state_topic\": " + JsonString(prefix + "state") + ", ";
    const std::string item = e.object;
    if (item == "connected") {
        // Its own state tells a lost device, so only the bridge's end makes it unknown.
        body += "\"device_class\": \"connectivity\", \"entity_category\": \"diagnostic\", "
                "\"value_template\": \"{{ 'ON' if value_json.connected else 'OFF' }}\", "
                "\"payload_on\": \"ON\", \"payload_off\": \"OFF\", " +
            Availability(base, d.id, false);
    } else {
        body += "\"command_topic\": " + JsonString(prefix + item + "/set") + ", \"qos\": 1, ";
        if (item == "input") {
            std::string options;
            for (const auto &o : d.inputs)
                options += (options.empty() ? "" : ", ") + JsonString(o);
            // The names hold no quote, backslash or brace: the reader refuses them.
            std::string names;
            for (const auto &o : d.inputs)
                names += (names.empty() ? "\"" : ", \"") + o + "\"";
            body += "\"options\": [" + options + "], \"value_template\": " +
                JsonString("{{ [" + names + "][value_json.input - 1] if value_json.input else None }}");
        } else {
            // The warm-up after power on reads as on.
            const std::string value = item == "power"
                ? "{{ 'on' if value_json.power == 'changing' else value_json.power }}"
                : "{{ value_json." + item + " }}";
            body += "\"value_template\": " + JsonString(value) +
                ", \"payload_on\": \"ON\", \"payload_off\": \"OFF\", \"state_on\": \"on\", \"state_off\": "
                "\"off\"";
        }
        body += ", " + Availability(base, d.id, true);
    }
    body += ", \"device\": {\"identifiers\": [" + JsonString(std::string(node) + "_" + d.id) +
        "], \"name\": " + JsonString(d.name) +
        ", \"model\": \"RK-DX420\", \"sw_version\": \"" LC_PROGRAM_VERSION
        "\"}, \"origin\": {\"name\": \"lumacast2d\", \"sw_version\": \"" LC_PROGRAM_VERSION "\"}}";
    return body;
}

} // namespace

std::string NodeId(std::string_view base)
{
    std::string node(base);
    for (char &c : node) {
        const bool allowed = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '_' || c == '-';
        if (!allowed)
            c = '_';
    }
    return node;
}

std::vector<TopicMessage> DiscoveryConfigs(const DeviceEntry &device, std::string_view base,
                                           std::string_view prefix)
{
    const std::string node = NodeId(base);
    std::vector<TopicMessage> messages;
    messages.reserve(Entities.size());
    for (const Entity &e : Entities)
        messages.push_back({Topic(e, device.id, node, prefix), Body(e, device, base, node)});
    return messages;
}

std::vector<std::string> ConfigTopics(std::string_view id, std::string_view base, std::string_view prefix)
{
    const std::string node = NodeId(base);
    std::vector<std::string> topics;
    topics.reserve(Entities.size());
    for (const Entity &e : Entities)
        topics.push_back(Topic(e, id, node, prefix));
    return topics;
}

std::string ConfigPattern(std::string_view base, std::string_view prefix)
{
    return std::string(prefix) + "/+/" + NodeId(base) + "/+/config";
}

std::string IdOfConfigTopic(std::string_view topic, std::string_view base, std::string_view prefix)
{
    const std::string node = NodeId(base);
    for (const Entity &e : Entities) {
        const std::string head = std::string(prefix) + "/" + e.component + "/" + node + "/";
        const std::string tail = std::string("_") + e.object + "/config";
        if (topic.size() > head.size() + tail.size() && topic.starts_with(head) && topic.ends_with(tail)) {
            const std::string_view id = topic.substr(head.size(), topic.size() - head.size() - tail.size());
            if (IsDeviceId(id))
                return std::string(id);
        }
    }
    return {};
}

} // namespace lumacast
