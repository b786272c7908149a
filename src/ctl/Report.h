#pragma once

#include "link/DeviceState.h"
#include "link/Protocol.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast::ctl {

// What one target came to.
struct TargetResult {
    std::string address; // the target as given, or as discovery found it
    std::string error; // empty when the target answered as asked
    std::optional<DeviceStatusChars> status; // the last accepted reply's

    bool Ok() const { return error.empty(); }
};

// For people: one aligned row per target; colour only for a terminal.
std::string FormatTable(const std::vector<TargetResult> &results, bool colour);

// For scripts: one JSON array, an object per target.
std::string FormatJson(const std::vector<TargetResult> &results);

// The senders of a discovery: one a line, or a JSON array of objects.
std::string FormatFound(const std::vector<std::string> &senders, bool json);

} // namespace lumacast::ctl
