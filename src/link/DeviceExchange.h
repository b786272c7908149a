#pragma once

#include "link/Protocol.h"
#include "platform/SocketError.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

class AbortSignal;
class TcpClient;

// The reply window: how long a status reply is looked for after a frame.
inline constexpr std::uint32_t ReplyWindowMs = 3000;
// The pause after each step of the poll, and so the cadence of the looks.
inline constexpr unsigned IterationPauseMs = 100;
// How long one look waits for data.
inline constexpr int DataWaitMs = 1;
// A look keeps one byte more than a status reply: enough to reject a longer
// one, whatever a device sends.
inline constexpr std::size_t ReplyKeepBytes = StatusReplyLength + 1;

// Whether a reply may still be taken, on a 32-bit tick count that wraps.
constexpr bool ReplyWindowOpen(std::uint32_t now, std::uint32_t sentAt) noexcept
{
    return static_cast<std::uint32_t>(now - sentAt) < ReplyWindowMs;
}

// Which step of a connect failed, for a front end that names it.
enum class ConnectStep {
    Address, // a text that never connects (an IPv6 address, a zero character)
    Resolve, // the host name did not resolve
    Connect, // the connect attempt itself
};

class ConnectError : public SocketError {
public:
    ConnectError(ConnectStep step, const SocketError &cause)
        : SocketError(cause.what(), cause.ErrorNumber()), step_(step)
    {
    }
    ConnectStep Step() const { return step_; }

private:
    ConnectStep step_;
};

// Connects to a device at an address text as the panel's field holds it: four
// dotted parts go straight to that address, anything else to the system's
// IPv4 resolution; an IPv6 text never connects. `abort` ends an attempt or a
// lookup early; `limit`, when given, bounds the lookup and the connect
// together. Throws ConnectError.
void ConnectToDevice(TcpClient &client, std::u16string_view address, std::uint16_t port,
                     const AbortSignal *abort, std::optional<std::chrono::milliseconds> limit = std::nullopt);

// One look for a reply: what arrived is taken whole and judged, and a
// connection the device has ended is noticed.
struct ReplyLook {
    bool taken = false; // something arrived and was taken as the reply
    std::string reply; // what was taken, decoded
    std::optional<DeviceStatusChars> status; // when the reply was accepted
    bool closed = false; // the device has ended or reset the connection
    bool reset = false; // reset rather than ended
};
ReplyLook LookForReply(TcpClient &client);

} // namespace lumacast
