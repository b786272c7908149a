#pragma once

#include "ctl/Report.h"
#include "link/DeviceState.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

// Devices handled at once; more wait for a free turn.
inline constexpr std::size_t MaxParallel = 64;

struct Exchange {
    std::uint16_t port = DevicePort;
    std::chrono::milliseconds timeout{5000}; // for the connect, host-name lookup included
    PendingCommands pending; // what the first frame carries; later frames carry nothing
    // With a wait: poll until `reached` holds for the reported state, at most this long.
    std::optional<std::chrono::milliseconds> wait;
    std::function<bool(const DeviceState &)> reached;
};

// What `reached` is for a command: the state it asks for.
std::function<bool(const DeviceState &)> GoalOf(const PendingCommands &pending);

// How a worker thread is started; tests make it fail as a system out of
// threads does (std::system_error).
using ThreadStarter = std::function<std::thread(std::function<void()>)>;
std::thread StartThread(std::function<void()> work);

// Runs the exchange with every target side by side and returns the results
// in the targets' order. `stop` ends every exchange at once; each connection
// is still closed in order. Where the system gives fewer threads, the
// targets take turns on those it gives.
std::vector<TargetResult> RunTargets(const std::vector<std::string> &targets, const Exchange &exchange,
                                     const AbortSignal &stop, const ThreadStarter &startThread = StartThread);

} // namespace lumacast::ctl
