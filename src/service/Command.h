#pragma once

#include "link/Protocol.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumacast {

// The most a command's payload may hold; "HDMI 1" and "OFF" need far less.
inline constexpr std::size_t LongestPayload = 64;

// A command of a command topic: the slot it fills and the byte it puts there.
struct Command {
    char PendingCommands::*slot = nullptr;
    char value = 0;
    const char *words = ""; // "power on", "input 3": for the log
};

// Splits BASE/ID/ITEM/set into the id and the item; false for any other topic.
bool SplitCommandTopic(std::string_view base, std::string_view topic, std::string_view &id,
                       std::string_view &item);

// The command that `payload` on the item's topic asks for: ON or OFF in any
// case, an input's number or one of `inputs` (its option texts). Nothing,
// with `why` told, for anything else. Allocates nothing for a good one.
std::optional<Command> ReadCommand(std::string_view item, std::string_view payload,
                                   const std::vector<std::string> &inputs, std::string &why);

// A text of the network made fit for one log line: control characters and
// bytes that are not UTF-8 as \xNN, cut at `limit` bytes.
std::string LogText(std::string_view text, std::size_t limit = 120);

} // namespace lumacast
