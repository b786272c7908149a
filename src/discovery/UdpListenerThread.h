#pragma once

#include "discovery/SocketBinding.h"
#include "platform/WorkerThread.h"

#include <atomic>
#include <cstddef>

namespace lumacast {

class UdpServer;

// Waits on one socket and hands what arrives to the UI thread.
class UdpListenerThread : public WorkerThread {
public:
    // The longest a single wait lasts; the stop request (RequestStop) ends it at once.
    static constexpr int WaitMs = 1000;
    // Datagrams handed over in one step at most, so the window gets its
    // events handled between batches of a large burst.
    static constexpr std::size_t MaxBatch = 512;
    // Batches queued for the UI thread before the listener waits for it to
    // catch up.
    static constexpr int MaxPending = 64;

    UdpListenerThread(UdpServer &server, SocketBinding &binding);
    ~UdpListenerThread() override;

protected:
    void Execute() override;

private:
    UdpServer &server_;
    SocketBinding &binding_;
    std::atomic<int> pending_{0};
};

} // namespace lumacast
