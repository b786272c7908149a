#include "platform/WorkerThread.h"

#include "platform/HandOff.h"
#include "platform/SocketError.h"
#include "platform/SocketErrorText.h"

#include <system_error>

namespace lumacast {
namespace {
std::atomic<int> liveThreads{0};
}

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
        liveThreads.fetch_add(1);
    try {
        thread_ = std::thread([this] { Run(); });
    } catch (const std::system_error &e) {
        if (counted_)
            liveThreads.fetch_sub(1);
        // Reported like the sockets' own failures, in the box too.
        throw SocketError(SocketErrorMessage(e.code().value()), e.code().value());
    } catch (...) {
        if (counted_)
            liveThreads.fetch_sub(1);
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
    if (releaseOnEnd_) {
        thread_.detach();
        delete this;
    }
    if (counted)
        liveThreads.fetch_sub(1);
    handoff::NotifyWaiters();
}

void WorkerThread::WaitForEnd()
{
    handoff::WaitServing([this] { return finished_.load(); });
    if (thread_.joinable())
        thread_.join();
}

bool WorkerThread::WaitForAllEnded(std::chrono::milliseconds limit)
{
    using Clock = std::chrono::steady_clock;
    const bool bounded = limit < std::chrono::hours(24);
    const auto deadline = bounded ? Clock::now() + limit : Clock::time_point::max();
    handoff::WaitServing([&] { return liveThreads.load() == 0 || Clock::now() >= deadline; });
    return liveThreads.load() == 0;
}

} // namespace lumacast
