#pragma once

#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <string_view>

namespace lumacast {

class AbortSignal;

// An IPv4 TCP connection used by one thread. Blocking send, a short look for
// received data, orderly shutdown. Nagle stays on.
class TcpClient {
public:
    TcpClient() = default;
    ~TcpClient();
    TcpClient(const TcpClient &) = delete;
    TcpClient &operator=(const TcpClient &) = delete;

    // Binds to any local address and a system-chosen port, then connects with
    // no time limit of our own. `abort`, when given and signalled, fails the
    // attempt at once. Throws SocketError.
    void Connect(in_addr address, std::uint16_t port, const AbortSignal *abort = nullptr);

    // Hands every byte to the system before returning. Throws SocketError,
    // also when the connection has already been closed.
    void Send(std::string_view bytes);

    struct CheckResult {
        bool received = false; // the input buffer holds bytes
        bool closed = false; // end of stream, reset, abort or shutdown seen
    };
    // Reads without waiting; when that yields nothing, waits up to waitMs for
    // data. A closed connection is closed at this end too. Other receive
    // errors throw SocketError.
    CheckResult CheckForData(int waitMs);

    // Drains the input buffer.
    std::string TakeInput();

    bool IsOpen() const { return fd_ >= 0; }

    // Shuts down the sending direction and closes; nothing on a socket that
    // was never opened or is already closed. Never throws.
    void Disconnect() noexcept;

    // Resolves a host name to its first IPv4 address. Throws SocketError.
    static in_addr ResolveIPv4(const std::string &host);

private:
    bool ReadAvailable(); // true when end of stream or a reset was seen

    int fd_ = -1;
    std::string input_;
};

} // namespace lumacast
