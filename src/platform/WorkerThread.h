#pragma once

#include "platform/AbortSignal.h"
#include "platform/HandOff.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>

namespace lumacast {

// A classic thread object: the body is Execute(); the stop request only sets a
// flag that Execute polls; the end notification runs on the UI thread once
// Execute has returned; with release on end the object deletes itself after it.
// Its hand-offs go to the queue of the owner that made it.
class WorkerThread {
public:
    using EndNotification = std::function<void(WorkerThread *sender)>;

    explicit WorkerThread(std::shared_ptr<HandOffQueue> handOffs) : handOffs_(std::move(handOffs)) { }
    WorkerThread(const WorkerThread &) = delete;
    WorkerThread &operator=(const WorkerThread &) = delete;
    virtual ~WorkerThread();

    // Both must be attached before Start().
    void SetEndNotification(EndNotification notification) { endNotification_ = std::move(notification); }
    void SetReleaseOnEnd(bool free) { releaseOnEnd_ = free; }

    // Throws SocketError with the socket layer's message when the system
    // refuses a new thread.
    void Start();

    // The stop request: never blocks, may be repeated. Besides the flag it
    // signals StopSignal(), so that a wait of the body can end early.
    void RequestStop()
    {
        terminated_.store(true);
        stop_.Signal();
    }
    bool StopRequested() const { return terminated_.load(); }
    const AbortSignal &StopSignal() const { return stop_; }

    // UI thread, threads without release on end: waits for the end while
    // serving hand-offs, then joins.
    void WaitForEnd();

protected:
    virtual void Execute() = 0;

    // Runs a step on the owner's thread and waits for it (HandOffQueue).
    void Synchronize(const std::function<void()> &step) { handOffs_->Synchronize(step); }
    void Post(std::function<void()> step) { handOffs_->Post(std::move(step)); }

private:
    void Run();

    std::shared_ptr<HandOffQueue> handOffs_;
    std::thread thread_;
    EndNotification endNotification_;
    bool releaseOnEnd_ = false;
    bool counted_ = false;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    AbortSignal stop_;
};

} // namespace lumacast
