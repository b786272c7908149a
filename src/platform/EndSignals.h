#pragma once

#include <functional>
#include <memory>
#include <thread>

class QSocketNotifier;

namespace lumacast {

// A logout (SIGHUP), Ctrl+C (SIGINT) and SIGTERM end the program the way
// closing its window does, on the UI thread, instead of killing it.

// Blocks the three signals in the calling thread and so in every thread it
// starts afterwards. Call first thing, before any thread exists. Throws
// std::system_error.
void BlockEndSignals();

// Delivers the blocked signals to `onSignal` on the thread that creates the
// watcher (it needs a running Qt event loop). Where the system cannot watch
// them (out of descriptors), they are let through instead, and end the
// program at once as they would any other.
class EndSignalWatcher {
public:
    explicit EndSignalWatcher(std::function<void()> onSignal);
    ~EndSignalWatcher();
    EndSignalWatcher(const EndSignalWatcher &) = delete;
    EndSignalWatcher &operator=(const EndSignalWatcher &) = delete;

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::function<void()> onSignal_;
};

// Where no event loop runs: delivers the blocked signals to `onSignal` on a
// thread of its own, once for each wake. Throws std::system_error.
class EndSignalThread {
public:
    explicit EndSignalThread(std::function<void()> onSignal);
    ~EndSignalThread();
    EndSignalThread(const EndSignalThread &) = delete;
    EndSignalThread &operator=(const EndSignalThread &) = delete;

private:
    int signalFd_ = -1;
    int quitFd_ = -1;
    std::thread thread_;
};

} // namespace lumacast
