#include "link/Watch.h"

#include "platform/AbortSignal.h"

#include <algorithm>

namespace lumacast {

std::chrono::milliseconds Backoff::Next()
{
    auto wait = First;
    for (int i = 0; i < tries_ && wait < Longest; ++i)
        wait *= 2;
    wait = std::min(wait, Longest);
    ++tries_;
    std::uniform_int_distribution<long long> jitter(-wait.count() / 5, wait.count() / 5);
    return wait + std::chrono::milliseconds(jitter(random_));
}

SessionEnd KeepWatching(DeviceSession &session, WatchEvents &events, const AbortSignal &stop, bool once,
                        Backoff backoff)
{
    for (;;) {
        SessionEnd end = session.Run(RunMode::Forever());
        if (once || stop.Signalled() || end.reason == EndReason::Stopped) {
            events.Ended(end, std::nullopt);
            return end;
        }
        if (end.connected)
            backoff.Reset();
        const auto wait = backoff.Next();
        events.Ended(end, wait);
        if (stop.WaitFor(static_cast<unsigned>(wait.count())))
            return SessionEnd{};
    }
}

} // namespace lumacast
