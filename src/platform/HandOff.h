#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>

namespace lumacast {

// Raised on a worker whose step could not run because the UI thread no longer
// serves hand-offs (the window is being torn down).
class HandOffCutOff : public std::runtime_error {
public:
    HandOffCutOff() : std::runtime_error("hand-off cut off") { }
};

// Runs `step` on the UI thread and blocks the calling worker, without a time
// limit, until it has run. An exception thrown by the step is rethrown here.
// Called on the UI thread itself, the step runs at once.
void Synchronize(const std::function<void()> &step);

// Queues `step` for the UI thread like Synchronize, in the same order, but
// returns at once; an error it throws is dropped. After the cut-off it is
// dropped without running.
void Post(std::function<void()> step);

namespace handoff {

// Lets workers wake the UI thread. Called once on the UI thread after the
// application object exists and before any worker hands off; without it,
// steps run only when the UI thread drains or waits serving.
void Install();

// Runs every queued step in the order queued. UI thread only.
void Drain();

// Like Drain, but starts no further step once `budget` has passed; true
// when steps remain. At least one step runs when any is queued.
bool DrainFor(std::chrono::milliseconds budget);

// Blocks the UI thread until `finished()` is true, running queued steps
// meanwhile, so that a worker blocked in a hand-off cannot deadlock the wait.
void WaitServing(const std::function<bool()> &finished);

// Wakes a `WaitServing` so that it tests its condition again.
void NotifyWaiters();

// From now on queued and new steps fail on their worker with HandOffCutOff
// without running.
void CutOff();

// Serves hand-offs again (tests build and tear down many windows).
void Reopen();

bool IsCutOff();

} // namespace handoff
} // namespace lumacast
