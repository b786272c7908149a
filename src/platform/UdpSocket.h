#pragma once

#include "platform/NetAddress.h"
#include "platform/SocketError.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lumacast {

class AbortSignal;

// The bind call itself failed (the port is held, for instance).
class BindError : public SocketError {
public:
    using SocketError::SocketError;
};

// One UDP socket, IPv4 or IPv6-only, owned by one object. Socket calls that
// fail throw SocketError with the errno. Safe to send from one thread while
// another waits and receives.
class UdpSocket {
public:
    // The largest datagram handed over; a longer one is lost.
    static constexpr std::size_t MaxDatagram = 8192;

    // Throws SocketError when the system cannot create the socket.
    explicit UdpSocket(IpFamily family);
    ~UdpSocket();
    UdpSocket(const UdpSocket &) = delete;
    UdpSocket &operator=(const UdpSocket &) = delete;

    // Whether the system creates sockets of this family at all.
    static bool FamilyOffered(IpFamily family);

    IpFamily Family() const { return family_; }
    // For checks of the socket's options.
    int Fd() const { return fd_; }

    // Address reuse stays off, so a port held elsewhere fails the bind; an
    // IPv6 socket is made IPv6-only first so both families share the port.
    void Bind(std::uint16_t port);
    std::uint16_t LocalPort() const;

    void SetBroadcast(bool allowed);

    // Raises the receive buffer as far as the system lets us, up to `bytes`;
    // returns the size the system granted. Never throws.
    int RaiseReceiveBuffer(int bytes) noexcept;

    // One datagram to an IPv4 address (host order) and port.
    void SendTo(Ipv4Address to, std::uint16_t port, std::string_view data);

    enum class WaitResult { Readable, Stopped, TimedOut };
    // Waits up to `timeoutMs` for a datagram; `stop` cuts the wait short.
    WaitResult Wait(int timeoutMs, const AbortSignal &stop) const;

    struct Datagram {
        std::vector<std::uint8_t> data;
        Endpoint sender;
    };
    enum class ReceiveResult { Received, Empty, Lost, NothingWaiting };
    // Takes one waiting datagram without blocking. Empty and over-long
    // datagrams and receive errors give no data.
    ReceiveResult ReceiveNow(Datagram &into);

private:
    IpFamily family_;
    int fd_ = -1;
};

} // namespace lumacast
