#include "discovery/UdpServer.h"

#include "discovery/SenderAddress.h"
#include "platform/HandOff.h"
#include "platform/SocketErrorText.h"

namespace lumacast {
namespace {

SocketError ShownError(const SocketError &cause)
{
    return SocketError(SocketErrorMessage(cause.ErrorNumber()), cause.ErrorNumber());
}

} // namespace

EndpointBindError::EndpointBindError(int errorNumber) : SocketError(CouldNotBindText, errorNumber) { }

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
            auto socket = std::make_unique<UdpSocket>(binding->family);
            socket->Bind(port_);
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
        throw ShownError(e);
    }

    for (std::size_t i = 0; i < bindings_.size(); ++i)
        bindings_[i]->socket = std::move(opened[i]);
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
        listener->RequestStop();
    for (const auto &listener : listeners_)
        listener->WaitForEnd();
    // Batches queued just before a listener ended still reach the handler,
    // and none may outlive the listener they point to.
    handOffs_->Drain();
    listeners_.clear();
    // Closed only once no thread waits on them: a descriptor closed under a
    // poll could be reused by an unrelated socket meanwhile.
    for (const auto &binding : bindings_)
        binding->socket.reset();
    active_ = false;
}

void UdpServer::Broadcast(std::string_view data, std::uint16_t port)
{
    if (!active_)
        Activate();
    UdpSocket &sender = *bindings_.front()->socket;
    int sendError = 0;
    try {
        sender.SetBroadcast(true);
        sender.SendTo(Ipv4Address{0xFFFFFFFFu}, port, data);
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
        binding.peerIp = SenderAddressText(datagram.sender);
        binding.peerPort = datagram.sender.port;
        binding.peer = datagram.sender;
        if (!onRead)
            continue;
        try {
            onRead(thread, datagram.data, binding);
        } catch (...) {
            // One handler's failure must not cost the rest of the batch.
        }
    }
}

} // namespace lumacast
