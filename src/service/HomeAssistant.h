#pragma once

#include "service/Config.h"

#include <string>
#include <string_view>
#include <vector>

namespace lumacast {

struct TopicMessage {
    std::string topic;
    std::string payload;
};

// Where a base's entities sit in Home Assistant's discovery topics
// (PREFIX/COMPONENT/NODE/OBJECT/config): the base with every character that a
// node id may not hold as _.
std::string NodeId(std::string_view base);

// The retained discovery configurations of one device: a switch each for
// power, lamp and mute, a select for the input, a connectivity sensor.
std::vector<TopicMessage> DiscoveryConfigs(const DeviceEntry &device, std::string_view base,
                                           std::string_view prefix);

// The topics of those configurations for a device id, as a removal empties them.
std::vector<std::string> ConfigTopics(std::string_view id, std::string_view base, std::string_view prefix);

// What the service subscribes to for the configurations of its base.
std::string ConfigPattern(std::string_view base, std::string_view prefix);

// The device id of one of this base's configuration topics; empty for any other topic.
std::string IdOfConfigTopic(std::string_view topic, std::string_view base, std::string_view prefix);

} // namespace lumacast
