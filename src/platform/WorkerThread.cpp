#include "platform/WorkerThread.h"

#include "platform/HandOff.h"
#include "platform/SocketError.h"
#include "platform/SocketErrorText.h"

#include <system_error>

namespace lumacast {

WorkerThread::~WorkerThread()
{
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id())
        thread_.join();
}

void WorkerThread::Start()
{
    // Only self-releasing threads are counted: nobody can join them, so the
    // count is the only way to wait for their end.
    counted_ = releaseOnEnd_;
    if (counted_)
        handOffs_->WorkerStarted();
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error &e) {
        if (counted_)
            handOffs_->WorkerEnded();
        // Reported like the sockets' own failures, in the box too.
        throw SocketError(SocketErrorMessage(e.code().value()), e.code().value());
    } catch (...) {
        if (counted_)
            handOffs_->WorkerEnded();
        throw;
    }
}

void WorkerThread::Run()
{
    try {
        Execute();
    } catch (...) {
        // Execute reports nothing; its failures end the thread.
    }
    finished_.store(true);
    if (endNotification_) {
        try {
            Synchronize([this] { endNotification_(this); });
        } catch (...) {
            // Cut off from the UI thread: nobody is left to notify.
        }
    }
    const bool counted = counted_;
    // The queue outlives this object's self-release.
    const std::shared_ptr<HandOffQueue> handOffs = handOffs_;
    if (releaseOnEnd_) {
        thread_.detach();
        delete this;
    }
    if (counted)
        handOffs->WorkerEnded();
    else
        handOffs->NotifyWaiters();
}

void WorkerThread::WaitForEnd()
{
    handOffs_->WaitServing([this] { return finished_.load(); });
    if (thread_.joinable())
        thread_.join();
}

} // namespace lumacast
