#pragma once

#include <chrono>

namespace lumacast {

// How many refused commands get a log line of their own: at most `perSecond`
// in each second, and one count of the rest when their second is over, so a
// flood cannot fill the journal.
class RefusalLog {
public:
    using Clock = std::chrono::steady_clock;

    explicit RefusalLog(int perSecond = 5) : perSecond_(perSecond) { }

    // Whether the refusal at `now` gets its line. Call Held first.
    bool Take(Clock::time_point now);
    // The count held back in a second that is over, once; else 0.
    int Held(Clock::time_point now);

private:
    int perSecond_;
    Clock::time_point start_{};
    int taken_ = 0;
    int held_ = 0;
};

} // namespace lumacast
