#pragma once

#include <cstdint>

namespace lumacast {

// Raises this process's soft limit on open descriptors to `wanted`, or to
// the hard limit where that is lower; a soft limit already at or above
// `wanted` stays. Returns the soft limit in force afterwards. Never throws.
std::uint64_t RaiseOpenFileLimit(std::uint64_t wanted) noexcept;

} // namespace lumacast
