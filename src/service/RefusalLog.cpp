#include "service/RefusalLog.h"

namespace lumacast {

bool RefusalLog::Take(Clock::time_point now)
{
    if (taken_ == 0 || now - start_ >= std::chrono::seconds(1)) {
        start_ = now;
        taken_ = 0;
    }
    if (taken_ < perSecond_) {
        ++taken_;
        return true;
    }
    ++held_;
    return false;
}

int RefusalLog::Held(Clock::time_point now)
{
    if (held_ == 0 || now - start_ < std::chrono::seconds(1))
        return 0;
    const int held = held_;
    held_ = 0;
    taken_ = 0;
    return held;
}

} // namespace lumacast
