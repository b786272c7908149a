#include "service/Command.h"

#include "service/Utf8.h"

#include <array>
#include <cstdio>

namespace lumacast {
namespace {

bool SameLetters(std::string_view text, std::string_view upper)
{
    if (text.size() != upper.size())
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i] >= 'a' && text[i] <= 'z' ? static_cast<char>(text[i] - 'a' + 'A') : text[i];
        if (c != upper[i])
            return false;
    }
    return true;
}

struct Item {
    const char *name;
    char PendingCommands::*slot;
    const char *on;
    const char *off;
};

constexpr std::array<Item, 3> Switches{{{"power", &PendingCommands::PowerCmd, "power on", "power off"},
                                        {"lamp", &PendingCommands::LampCmd, "lamp on", "lamp off"},
                                        {"mute", &PendingCommands::MuteCmd, "mute on", "mute off"}}};

constexpr std::array<const char *, 9> InputWords{"input 1", "input 2", "input 3", "input 4", "input 5",
                                                 "input 6", "input 7", "input 8", "input 9"};

} // namespace

bool SplitCommandTopic(std::string_view base, std::string_view topic, std::string_view &id,
                       std::string_view &item)
{
    if (topic.size() <= base.size() + 1 || !topic.starts_with(base) || topic[base.size()] != '/' ||
        !topic.ends_with("/set"))
        return false;
    const std::string_view middle = topic.substr(base.size() + 1, topic.size() - base.size() - 5);
    const auto slash = middle.find('/');
    if (slash == std::string_view::npos || middle.find('/', slash + 1) != std::string_view::npos)
        return false;
    id = middle.substr(0, slash);
    item = middle.substr(slash + 1);
    return true;
}

std::optional<Command> ReadCommand(std::string_view item, std::string_view payload,
                                   const std::vector<std::string> &inputs, std::string &why)
{
    if (payload.empty()) {
        why = "the payload is empty";
        return std::nullopt;
    }
    if (payload.size() > LongestPayload) {
        why = "the payload of " + std::to_string(payload.size()) + " bytes is longer than " +
            std::to_string(LongestPayload);
        return std::nullopt;
    }
    if (!IsUtf8(payload)) {
        why = "the payload is not UTF-8";
        return std::nullopt;
    }
    for (const Item &s : Switches) {
        if (item != s.name)
            continue;
        if (SameLetters(payload, "ON"))
            return Command{s.slot, '1', s.on};
        if (SameLetters(payload, "OFF"))
            return Command{s.slot, '0', s.off};
        why = "payload '" + LogText(payload) + "' is not ON or OFF";
        return std::nullopt;
    }
    if (item == "input") {
        for (int i = 1; i <= InputCount; ++i) {
            const auto index = static_cast<std::size_t>(i - 1);
            if ((payload.size() == 1 && payload[0] == '0' + i) ||
                (index < inputs.size() && payload == inputs[index]))
                return Command{&PendingCommands::InpSelCmd, static_cast<char>('0' + i), InputWords[index]};
        }
        why = "payload '" + LogText(payload) + "' is neither an input from 1 to " +
            std::to_string(InputCount) + " nor an input's name";
        return std::nullopt;
    }
    why = "no such command (power, lamp, mute and input are)";
    return std::nullopt;
}

std::string LogText(std::string_view text, std::size_t limit)
{
    std::string out;
    const bool utf8 = IsUtf8(text);
    for (const char c : text.substr(0, limit)) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && !utf8) || c == '\'' || c == '\\') {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
            out += escaped;
        } else {
            out += c;
        }
    }
    if (text.size() > limit)
        out += "...";
    return out;
}

} // namespace lumacast
