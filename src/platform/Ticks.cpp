#include "platform/Ticks.h"

#include <chrono>
#include <thread>

namespace lumacast {

std::uint32_t TickCount()
{
    using namespace std::chrono;
    const auto ms = duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
    return static_cast<std::uint32_t>(ms);
}

void SleepMs(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace lumacast
