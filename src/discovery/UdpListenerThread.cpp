#include "discovery/UdpListenerThread.h"

#include "discovery/UdpServer.h"
#include "platform/HandOff.h"
#include "platform/Ticks.h"

#include <vector>

namespace lumacast {

UdpListenerThread::UdpListenerThread(UdpServer &server, SocketBinding &binding)
    : WorkerThread(server.HandOffs()), server_(server), binding_(binding)
{
}

UdpListenerThread::~UdpListenerThread()
{
    RequestStop();
}

void UdpListenerThread::Execute()
{
    UdpSocket &socket = *binding_.socket;
    UdpSocket::Datagram scratch;
    std::vector<UdpSocket::Datagram> batch;
    while (!StopRequested()) {
        UdpSocket::WaitResult waited;
        try {
            waited = socket.Wait(WaitMs, StopSignal());
        } catch (const SocketError &) {
            SleepMs(10); // the system is short of something; try again shortly
            continue;
        }
        if (waited == UdpSocket::WaitResult::Stopped || StopRequested())
            break;
        if (waited == UdpSocket::WaitResult::TimedOut)
            continue;

        // Take everything already waiting: while this thread waits on its
        // hand-off only the socket's buffer holds new answers.
        batch.clear();
        while (batch.size() < MaxBatch) {
            const auto result = socket.ReceiveNow(scratch);
            if (result == UdpSocket::ReceiveResult::NothingWaiting)
                break;
            if (result == UdpSocket::ReceiveResult::Received)
                batch.push_back({std::vector<std::uint8_t>(scratch.data), scratch.sender});
        }
        if (batch.empty())
            continue;
        // A listener that waited for each hand-off would leave a burst to the
        // socket's buffer alone, and an ordinary system caps that buffer at a
        // few hundred answers. So batches are queued and the listener goes
        // back to its socket; the UI thread still handles them one at a time
        // in arrival order. Only a UI thread far behind makes it wait.
        auto step = [this, taken = std::move(batch)]() mutable {
            pending_.fetch_sub(1);
            server_.DeliverBatch(this, taken, binding_);
        };
        batch = {};
        try {
            if (pending_.fetch_add(1) < MaxPending) {
                Post(std::move(step));
            } else {
                Synchronize(step);
            }
        } catch (...) {
            // Cut off from the window: the batch is dropped.
        }
    }
}

} // namespace lumacast
