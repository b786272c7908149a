#pragma once

#include "platform/NetAddress.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

class AbortSignal;

// How long the system tries to reach a device that does not answer: as long
// as a desktop system's first SYN and two retries (3 + 6 + 12 s), instead of
// the two minutes and more of Linux's own retries.
inline constexpr std::chrono::milliseconds ConnectAttemptBound{21000};
// How long a disconnect reads away what the device still sends before it closes.
inline constexpr std::chrono::milliseconds DisconnectLinger{100};

// An IPv4 TCP connection used by one thread. A send that waits for room, a
// short look for received data, orderly shutdown. Nagle stays on.
class TcpClient {
public:
    // A look keeps at most `keep` bytes of what it reads and discards the
    // rest, so a device that streams cannot grow the input buffer.
    // `attemptBound` bounds the system's connect attempt (tests shorten it).
    explicit TcpClient(std::size_t keep = SIZE_MAX,
                       std::chrono::milliseconds attemptBound = ConnectAttemptBound)
        : keep_(keep), attemptBound_(attemptBound)
    {
    }
    ~TcpClient();
    TcpClient(const TcpClient &) = delete;
    TcpClient &operator=(const TcpClient &) = delete;

    // Binds to any local address and a system-chosen port, then connects; the
    // system gives up after the attempt bound, and a `limit`, when given, ends
    // the wait earlier (ETIMEDOUT). `abort`, when given and signalled, fails
    // the attempt at once (ECANCELED). Throws SocketError.
    void Connect(Ipv4Address address, std::uint16_t port, const AbortSignal *abort = nullptr,
                 std::optional<std::chrono::milliseconds> limit = std::nullopt);

    // Hands every byte to the system before returning, waiting for room as
    // long as it takes; `stop`, when given and signalled, fails the wait.
    // Throws SocketError, also when the connection has already been closed.
    void Send(std::string_view bytes, const AbortSignal *stop = nullptr);

    struct CheckResult {
        bool received = false; // the input buffer holds bytes
        bool closed = false; // end of stream, reset, abort or shutdown seen
        bool reset = false; // of those, a reset or abort rather than an end of stream
    };
    // Reads without waiting what the system holds at this moment; when that
    // yields nothing, waits up to waitMs for data. A closed connection is
    // closed at this end too. Other receive errors throw SocketError.
    CheckResult CheckForData(int waitMs);

    // Drains the input buffer.
    std::string TakeInput();

    // Shuts down the sending direction, reads away what the device still
    // sends (briefly, so that the close resets nothing) and closes; nothing
    // on a socket that was never opened or is already closed. Never throws.
    void Disconnect() noexcept;

    // Resolves a host name to its first IPv4 address; `abort`, when given and
    // signalled, gives up the wait (ECANCELED), and so does a `limit` that
    // runs out (ETIMEDOUT); the lookup itself ends on its own thread. Throws
    // SocketError.
    static Ipv4Address ResolveIPv4(const std::string &host, const AbortSignal *abort = nullptr,
                                   std::optional<std::chrono::milliseconds> limit = std::nullopt);

    // Tests only: runs inside a look, between the count of waiting bytes and
    // the read, so that a reply can be made to land in between.
    void SetAfterCount(std::function<void()> step) { afterCount_ = std::move(step); }

private:
    enum class Seen { Open, Ended, Reset };
    Seen ReadAvailable();

    int fd_ = -1;
    std::size_t keep_;
    std::chrono::milliseconds attemptBound_;
    std::function<void()> afterCount_;
    std::string input_;
};

} // namespace lumacast
