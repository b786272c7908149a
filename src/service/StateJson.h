#pragma once

#include "link/DeviceState.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

// The retained state of a device: the fields of `lumacast2-ctl status --json`
// (null before the first reply), whether replies come, and since when the
// state is what it is.
std::string StateJson(std::string_view address, const std::optional<DeviceState> &state, bool connected,
                      std::chrono::system_clock::time_point since);

} // namespace lumacast
