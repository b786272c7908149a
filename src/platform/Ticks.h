#pragma once

#include <cstdint>
#include <functional>

namespace lumacast {

// Milliseconds since an arbitrary start, as an unsigned 32-bit count that wraps.
std::uint32_t TickCount();

// The polling thread takes its clock from here so tests can put it near the wrap.
using TickSource = std::function<std::uint32_t()>;

void SleepMs(unsigned ms);

} // namespace lumacast
