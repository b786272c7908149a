#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace lumacast::test {

// True when the process sees no network but loopback: broadcasts cannot
// leave it. Tests and benchmarks that broadcast refuse to run elsewhere.
bool InPrivateNetwork();

// A UDP port that nothing holds at the moment, on IPv4 and IPv6 alike.
std::uint16_t FreeUdpPort();

// A plain UDP socket standing in for devices, or for another program.
class UdpPeer {
public:
    // `address` is an IPv4 or IPv6 literal; "0.0.0.0" or "::" for any.
    explicit UdpPeer(const std::string &address = "127.0.0.1", std::uint16_t port = 0);
    ~UdpPeer();
    UdpPeer(const UdpPeer &) = delete;
    UdpPeer &operator=(const UdpPeer &) = delete;

    bool Ok() const { return fd_ >= 0; }
    std::uint16_t Port() const;
    int Fd() const { return fd_; }

    void Send(const std::string &address, std::uint16_t port, const std::string &data) const;

    struct Received {
        std::string data;
        std::string senderAddress; // numeric, as the system writes it
        std::uint16_t senderPort = 0;
    };
    std::optional<Received> Receive(std::chrono::milliseconds wait) const;

    // Nothing is on its way here: a datagram sent to this socket now is the
    // next to arrive (a check that something is not sent, without waiting).
    bool Quiet() const;

private:
    int family_ = 0;
    int fd_ = -1;
};

} // namespace lumacast::test
