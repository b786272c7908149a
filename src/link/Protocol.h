#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumacast {

// The device's control port.
inline constexpr std::uint16_t DevicePort = 50000;

// The device's inputs, numbered from 1; an input slot carries its digit.
inline constexpr int InputCount = 5;
static_assert(InputCount >= 1 && InputCount <= 9, "an input travels as one digit");

// The commands that the next command frame carries, one byte each: "1" on,
// "0" off, "1" up to InputCount an input; any other byte means no command.
struct PendingCommands {
    char PowerCmd = 0;
    char LampCmd = 0;
    char MuteCmd = 0;
    char InpSelCmd = 0;
};

// Power, lamp, mute and input as the last accepted status reply gave them.
struct DeviceStatusChars {
    char power = 0;
    char lamp = 0;
    char mute = 0;
    char input = 0;

    bool operator==(const DeviceStatusChars &) const = default;
};

inline constexpr std::size_t StatusReplyLength = 12;

// The five characters of the next frame; clears every slot to a space.
std::string TakeCommandField(PendingCommands &pending);

// "@C1" + field + CR.
std::string ComposeFrame(std::string_view commandField);

// Bytes as characters, one to one; a byte above 0x7F reads as '?'.
std::string DecodeReceived(std::string_view bytes);

// The status that a reply carries, when the reply is exactly 12 characters
// beginning with "@c1"; nothing else is tested.
std::optional<DeviceStatusChars> AcceptReply(std::string_view decoded);

} // namespace lumacast
