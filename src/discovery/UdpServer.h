#pragma once

#include "discovery/EndpointBindError.h"
#include "discovery/SocketBinding.h"
#include "discovery/UdpListenerThread.h"
#include "platform/HandOff.h"
#include "platform/UdpSocket.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <vector>

namespace lumacast {

// Runs on the UI thread, one datagram at a time, in the order they arrived.
using UdpReadHandler = std::function<void(UdpListenerThread *thread, const std::vector<std::uint8_t> &data,
                                          SocketBinding &binding)>;

// A UDP endpoint on one local port, IPv4 and (when the system offers it)
// IPv6, with a listener thread per socket. All its operations run on the UI
// thread. Socket failures throw SocketError whose message is the one the
// panel shows (SocketErrorMessage) or EndpointBindError.
class UdpServer {
public:
    // Datagrams reach onRead through the hand-offs of the endpoint's owner.
    explicit UdpServer(std::shared_ptr<HandOffQueue> handOffs) : handOffs_(std::move(handOffs)) { }
    ~UdpServer();
    UdpServer(const UdpServer &) = delete;
    UdpServer &operator=(const UdpServer &) = delete;

    void SetPort(std::uint16_t port) { port_ = port; }
    std::uint16_t Port() const { return port_; }

    // Recorded while inactive; applied to every socket at activation.
    void SetBroadcastEnabled(bool enabled) { broadcastEnabled_ = enabled; }

    // Activation binds every declared socket and starts the listeners, or
    // throws leaving the endpoint inactive with nothing open. Deactivation
    // stops the listeners at once and waits for them while still serving
    // hand-offs. Setting the current state again does nothing.
    void SetActive(bool active);
    bool Active() const { return active_; }

    // Sends one datagram from the IPv4 socket to 255.255.255.255, activating
    // the endpoint first when it is inactive.
    void Broadcast(std::string_view data, std::uint16_t port);

    UdpReadHandler onRead;

    // The declared sockets, IPv4 first; fixed at the first activation.
    const std::vector<std::unique_ptr<SocketBinding>> &Sockets() const { return bindings_; }

    // The receive buffer asked of the system for each socket: large enough
    // that a burst of answers is held while the UI thread handles earlier ones.
    static constexpr int ReceiveBufferBytes = 4 * 1024 * 1024;
    // What the system granted the IPv4 socket at the last activation.
    int ReceiveBufferGranted() const { return receiveBufferGranted_; }

    // The listener step: hands a batch of datagrams to onRead one at a
    // time, in arrival order. UI thread.
    void DeliverBatch(UdpListenerThread *thread, std::vector<UdpSocket::Datagram> &batch,
                      SocketBinding &binding);

    const std::shared_ptr<HandOffQueue> &HandOffs() const { return handOffs_; }

private:
    void Activate();
    void Deactivate();

    std::shared_ptr<HandOffQueue> handOffs_;
    std::uint16_t port_ = 0;
    bool broadcastEnabled_ = false;
    bool active_ = false;
    int receiveBufferGranted_ = 0;
    std::vector<std::unique_ptr<SocketBinding>> bindings_;
    std::vector<std::unique_ptr<UdpListenerThread>> listeners_;
};

} // namespace lumacast
