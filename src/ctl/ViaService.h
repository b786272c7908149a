#pragma once

#include "ctl/CommandLine.h"
#include "ctl/Report.h"
#include "link/Protocol.h"

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

// A device as the service's retained state topic tells of it.
struct ServiceDevice {
    std::string id;
    std::string address;
    std::optional<DeviceStatusChars> status; // none before the service's first reply
    bool connected = false;
};

// Reads one message of BASE/ID/state; nothing for another topic, an id that
// cannot be one, or a payload that is not such a state (a removed device's
// empty payload included). Pure.
std::optional<ServiceDevice> ReadServiceState(std::string_view base, std::string_view topic,
                                              std::string_view payload);

// The topic and payload that ask the service for a command, as its
// subscribers take them: BASE/ID/power/set with ON, and so on. Pure.
struct ServiceCommand {
    std::string topic;
    std::string payload;
};
ServiceCommand CommandFor(std::string_view base, const std::string &id, const PendingCommands &pending);

// A command through the lumacast2d service's broker instead of the device's
// connection: status from the retained states, every device at once; a
// command published to its command topic; --wait from the state topic. The
// results in the targets' order, or nothing where the broker cannot be
// reached (told on `err`).
std::optional<std::vector<TargetResult>> ServiceTargets(const Options &options, std::ostream &err,
                                                        AbortSignal &stop);

// watch through the service: a line for each change of its state topic.
int WatchViaService(const Options &options, std::ostream &out, std::ostream &err, AbortSignal &stop);

} // namespace lumacast::ctl
