#include "discovery/UdpServer.h"

#include "discovery/SenderAddress.h"
#include "platform/HandOff.h"
#include "platform/SocketErrorText.h"
#include "platform/Ticks.h"

namespace lumacast {
namespace {

SocketError shownError(const SocketError &cause)
{
    return SocketError(SocketErrorMessage(cause.ErrorNumber()), cause.ErrorNumber());
}

} // namespace

EndpointBindError::EndpointBindError(int errorNumber)
    : SocketError("ソケットをバインドできませんでした。アドレスとポートは既に使われています。", errorNumber)
{
}

UdpServer::~UdpServer()
{
    Deactivate();
}

void UdpServer::SetActive(bool active)
{
    if (active == active_)
        return;
    if (active)
        Activate();
    else
        Deactivate();
}

void UdpServer::Activate()
{
    if (bindings_.empty()) {
        bindings_.push_back(std::make_unique<SocketBinding>(IpFamily::IPv4));
        if (UdpSocket::FamilyOffered(IpFamily::IPv6))
            bindings_.push_back(std::make_unique<SocketBinding>(IpFamily::IPv6));
    }

    // Everything opened in this attempt goes again if any step fails.
    std::vector<std::unique_ptr<UdpSocket>> opened;
    try {
        for (const auto &binding : bindings_) {
            auto socket = std::make_unique<UdpSocket>(binding->Family);
            socket->Bind(defaultPort_);
            opened.push_back(std::move(socket));
        }
        for (const auto &socket : opened) {
            const int granted = socket->RaiseReceiveBuffer(ReceiveBufferBytes);
            if (socket->Family() == IpFamily::IPv4)
                receiveBufferGranted_ = granted;
            if (broadcastEnabled_)
                socket->SetBroadcast(true);
        }
    } catch (const BindError &e) {
        throw EndpointBindError(e.ErrorNumber());
    } catch (const SocketError &e) {
        throw shownError(e);
    }

    for (std::size_t i = 0; i < bindings_.size(); ++i)
        bindings_[i]->Socket = std::move(opened[i]);
    try {
        for (const auto &binding : bindings_) {
            auto listener = std::make_unique<UdpListenerThread>(*this, *binding);
            listener->Start();
            listeners_.push_back(std::move(listener));
        }
    } catch (...) {
        Deactivate();
        throw;
    }
    active_ = true;
}

void UdpServer::Deactivate()
{
    // Wake every listener first so their ends overlap instead of adding up.
    for (const auto &listener : listeners_)
        listener->Stop();
    for (const auto &listener : listeners_)
        listener->WaitFor();
    // Batches queued just before a listener ended still reach the handler,
    // and none may outlive the listener they point to.
    handoff::Drain();
    listeners_.clear();
    // Closed only once no thread waits on them: a descriptor closed under a
    // poll could be reused by an unrelated socket meanwhile.
    for (const auto &binding : bindings_)
        binding->Socket.reset();
    active_ = false;
}

void UdpServer::Broadcast(std::string_view AData, std::uint16_t APort)
{
    if (!active_)
        Activate();
    UdpSocket &sender = *bindings_.front()->Socket;
    int sendError = 0;
    try {
        sender.SetBroadcast(true);
        sender.SendTo(Ipv4Address{0xFFFFFFFFu}, APort, AData);
    } catch (const SocketError &e) {
        sendError = e.ErrorNumber();
    }
    try {
        sender.SetBroadcast(broadcastEnabled_);
    } catch (const SocketError &e) {
        if (sendError == 0)
            sendError = e.ErrorNumber();
    }
    if (sendError != 0)
        throw SocketError(SocketErrorMessage(sendError), sendError);
}

void UdpServer::DeliverBatch(UdpListenerThread *thread, std::vector<UdpSocket::Datagram> &batch,
                             SocketBinding &binding)
{
    for (const auto &datagram : batch) {
        binding.PeerIP = SenderAddressText(datagram.sender);
        binding.PeerPort = datagram.sender.port;
        if (!OnRead)
            continue;
        try {
            OnRead(thread, datagram.data, binding);
        } catch (...) {
            // One handler's failure must not cost the rest of the batch.
        }
    }
}

UdpListenerThread::~UdpListenerThread()
{
    Stop();
}

void UdpListenerThread::Stop()
{
    Terminate();
    stop_.Signal();
}

void UdpListenerThread::Execute()
{
    UdpSocket &socket = *binding_.Socket;
    UdpSocket::Datagram scratch;
    std::vector<UdpSocket::Datagram> batch;
    while (!Terminated()) {
        UdpSocket::WaitResult waited;
        try {
            waited = socket.Wait(WaitMs, stop_);
        } catch (const SocketError &) {
            SleepMs(10); // the system is short of something; try again shortly
            continue;
        }
        if (waited == UdpSocket::WaitResult::Stopped || Terminated())
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
