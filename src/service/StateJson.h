#pragma once

#include "link/DeviceState.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

// A moment as ISO 8601 in UTC, to the millisecond: 2026-12-09T12:00:00.250Z.
std::string IsoUtc(std::chrono::system_clock::time_point when);

// The retained state of a device: the fields of `lumacast2-ctl status --json`
// (null before the first reply), whether replies come, and since when the
// state is what it is.
std::string StateJson(std::string_view address, const std::optional<DeviceState> &state, bool connected,
                      std::chrono::system_clock::time_point since);

} // namespace lumacast
