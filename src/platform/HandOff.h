#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>

namespace lumacast {

class WakeUp;

// Raised on a worker whose step could not run because its queue's owner no
// longer serves hand-offs (the window is being torn down).
class HandOffCutOff : public std::runtime_error {
public:
    HandOffCutOff() : std::runtime_error("hand-off cut off") { }
};

// The steps that workers hand to one owner's thread (the window's UI thread,
// or the thread that runs a discovery for the command line). Each owner has
// its own queue and its own cut-off, so ending one owner's workers never
// reaches another's. Workers share the queue with its owner, so a worker
// that outlives the owner's interest still finds it.
class HandOffQueue : public std::enable_shared_from_this<HandOffQueue> {
public:
    // The calling thread is the owner: the thread that serves the queue.
    static std::shared_ptr<HandOffQueue> Make();
    ~HandOffQueue();
    HandOffQueue(const HandOffQueue &) = delete;
    HandOffQueue &operator=(const HandOffQueue &) = delete;

    // Runs `step` on the owner's thread and blocks the calling worker,
    // without a time limit, until it has run. An exception thrown by the step
    // is rethrown here. Called on the owner's thread, the step runs at once.
    void Synchronize(const std::function<void()> &step);

    // Queues `step` like Synchronize, in the same order, but returns at once;
    // an error it throws is dropped. After the cut-off it is dropped unrun.
    void Post(std::function<void()> step);

    // Lets workers wake the owner's event loop (a Qt event loop on the
    // owner's thread); without it steps run only when the owner drains or
    // waits serving. Owner's thread, once the application object exists.
    void Watch();

    // Runs every queued step in the order queued. Owner's thread.
    void Drain();

    // Like Drain, but starts no further step once `budget` has passed; true
    // when steps remain. At least one step runs when any is queued.
    bool DrainFor(std::chrono::milliseconds budget);

    // Blocks the owner until `finished()` is true, running queued steps
    // meanwhile, so a worker blocked in a hand-off cannot deadlock the wait.
    void WaitServing(const std::function<bool()> &finished);

    // Wakes a WaitServing so that it tests its condition again.
    void NotifyWaiters();

    // From now on queued and new steps fail on their worker with
    // HandOffCutOff without running.
    void CutOff();
    // Serves hand-offs again (tests build and tear down many windows).
    void Reopen();
    bool IsCutOff() const;

    // The workers that release themselves at their end: nobody can join
    // them, so their count is the only way to wait for them.
    void WorkerStarted() { liveWorkers_.fetch_add(1); }
    void WorkerEnded();
    // Waits, serving, until every such worker has finished its last step,
    // self-release included. False when `limit` passed first.
    bool WaitForAllEnded(std::chrono::milliseconds limit = std::chrono::milliseconds::max());

    // Drains every queue that the calling thread owns (tests that wait on
    // whatever the thread serves).
    static void DrainOwnedByThisThread();

private:
    HandOffQueue();
    bool OnOwnerThread() const { return std::this_thread::get_id() == owner_; }
    void Wake();
    void ServeOneTurn();

    struct State;
    std::unique_ptr<State> state_;
    std::thread::id owner_;
    std::atomic<int> liveWorkers_{0};
};

} // namespace lumacast
