#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast::sim {

// Milliseconds on the simulator's monotonic clock; tests pass any values.
using Millis = std::chrono::milliseconds;

inline constexpr std::size_t FrameLength = 9;
inline constexpr std::size_t ReplyLength = 12;
inline constexpr std::string_view FrameHeader = "@C1";
inline constexpr std::string_view ReplyHeader = "@c1";
inline constexpr std::string_view ReplyFiller = "00000";

// The device: power, lamp, mute and input, each one status character.
// Power is '0' off, '2' warming up, '1' on; lamp and mute '0' / '1';
// input '1' up to the panel's input count.
class DeviceModel {
public:
    explicit DeviceModel(Millis warmUp = Millis(3000)) : warmUp_(warmUp) { }

    // Applies a well-formed frame ("@C1" + 5 characters + CR). Characters that
    // name no command leave their item alone. Returns false, changing
    // nothing, for anything that is not a well-formed frame.
    bool Apply(std::string_view frame, Millis now);

    // Power, lamp, mute and input as the device reports them at `now`.
    std::string Status(Millis now) const;

    // "@c1" + status + filler: the 12-byte reply.
    std::string Reply(Millis now) const;

private:
    Millis warmUp_;
    bool powered_ = false;
    Millis poweredAt_{0};
    char lamp_ = '0';
    char mute_ = '0';
    char input_ = '1';
};

bool IsWellFormedFrame(std::string_view bytes);

// Cuts a byte stream into command frames. Bytes that cannot begin a frame are
// handed back as garbage; after a bad frame the cutter resynchronises on the
// next "@C1". It never holds more than one frame's worth of bytes.
class FrameCutter {
public:
    struct Piece {
        bool frame; // false: garbage that was skipped
        std::string bytes;
        bool operator==(const Piece &) const = default;
    };

    std::vector<Piece> Feed(std::string_view bytes);

    // Bytes held back as the possible start of a frame.
    const std::string &Pending() const { return buffer_; }

private:
    std::string buffer_;
};

// How a reply is distorted before it is sent.
struct ReplyFault {
    bool badHeader = false; // "@C1" instead of "@c1"
    int length = 0; // 0: the proper 12 bytes; otherwise cut or padded with '0'
};

std::string DistortReply(std::string reply, const ReplyFault &fault);

// Splits a reply into the two parts that go out one after the other.
std::pair<std::string, std::string> SplitReply(const std::string &reply);

// Whether a datagram is the panel's discovery request.
bool IsDiscoveryRequest(std::string_view datagram);

// "40 43 31 0d": lower-case hex, one space between bytes.
std::string Hex(std::string_view bytes);

// "12.345": seconds with milliseconds.
std::string FormatSeconds(Millis sinceStart);

} // namespace lumacast::sim
