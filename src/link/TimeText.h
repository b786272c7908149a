#pragma once

#include <chrono>
#include <string>

namespace lumacast {

// A moment as ISO 8601 in UTC with milliseconds: "2026-12-11T15:40:54.123Z".
std::string IsoTimeUtc(std::chrono::system_clock::time_point when);

} // namespace lumacast
