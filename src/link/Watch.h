#pragma once

#include "link/DeviceSession.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace lumacast {

// The wait before the next try at a lost device: 1 s, doubling up to 30 s,
// each jittered by up to a fifth either way, so that a room of devices lost
// together is not tried again in one burst.
class Backoff {
public:
    static constexpr std::chrono::milliseconds First{1000};
    static constexpr std::chrono::milliseconds Longest{30000};

    explicit Backoff(std::uint32_t seed = std::random_device{}()) : random_(seed) { }

    std::chrono::milliseconds Next();
    // After a connection that stood, the next loss starts again at the first wait.
    void Reset() { tries_ = 0; }

private:
    int tries_ = 0;
    std::minstd_rand random_;
};

// What a watch tells beyond a session's events.
class WatchEvents : public SessionEvents {
public:
    // The session ended; with `retryIn` the next try follows after it.
    virtual void Ended(const SessionEnd &end, std::optional<std::chrono::milliseconds> retryIn)
    {
        (void)end;
        (void)retryIn;
    }

protected:
    ~WatchEvents() = default;
};

// Keeps `session` running for ever: a lost device is tried again after the
// back-off, until `stop`. With `once`, the first end ends the watch instead.
// Returns the last end.
SessionEnd KeepWatching(DeviceSession &session, WatchEvents &events, const AbortSignal &stop, bool once,
                        Backoff backoff = Backoff());

} // namespace lumacast
