#include "link/Protocol.h"

#include "link/IntegerText.h"

namespace lumacast {
namespace {

char OnOff(char slot)
{
    return (slot == '1' || slot == '0') ? slot : ' ';
}

char Input(char slot)
{
    return (slot >= '1' && slot < '1' + InputCount) ? slot : ' ';
}

// One part of a connect address: optional sign, then decimal digits or a
// $, x, X, 0x, 0X prefix and hex digits. Values past 255 stop early.
std::optional<std::uint32_t> ReadPart(std::u16string_view part)
{
    while (!part.empty() && part.front() == u' ')
        part.remove_prefix(1);
    while (!part.empty() && part.back() == u' ')
        part.remove_suffix(1);
    const IntegerText text = SplitIntegerText(part);
    if (text.digits.empty())
        return std::nullopt;
    std::uint32_t value = 0;
    for (char16_t c : text.digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0 || digit >= text.base)
            return std::nullopt;
        value = value * static_cast<std::uint32_t>(text.base) + static_cast<std::uint32_t>(digit);
        if (value > 255)
            return std::nullopt;
    }
    if (text.negative && value != 0)
        return std::nullopt;
    return value;
}

} // namespace

std::string TakeCommandField(PendingCommands &pending)
{
    std::string field;
    field += OnOff(pending.PowerCmd);
    field += OnOff(pending.LampCmd);
    field += OnOff(pending.MuteCmd);
    field += Input(pending.InpSelCmd);
    field += ' ';
    pending.PowerCmd = ' ';
    pending.LampCmd = ' ';
    pending.MuteCmd = ' ';
    pending.InpSelCmd = ' ';
    return field;
}

std::string ComposeFrame(std::string_view commandField)
{
    std::string frame = "@C1";
    frame += commandField;
    frame += '\r';
    return frame;
}

std::string DecodeReceived(std::string_view bytes)
{
    std::string decoded(bytes);
    for (char &c : decoded)
        if (static_cast<unsigned char>(c) > 0x7F)
            c = '?';
    return decoded;
}

std::optional<DeviceStatusChars> AcceptReply(std::string_view decoded)
{
    if (decoded.size() != StatusReplyLength || decoded.substr(0, 3) != "@c1")
        return std::nullopt;
    return DeviceStatusChars{decoded[3], decoded[4], decoded[5], decoded[6]};
}

std::optional<std::uint32_t> ReadConnectAddress(std::u16string_view text)
{
    std::uint32_t address = 0;
    for (int i = 0; i < 4; ++i) {
        const auto dot = text.find(u'.');
        const bool last = i == 3;
        if (!last && dot == std::u16string_view::npos)
            return std::nullopt;
        std::u16string_view part = text.substr(0, dot);
        if (last && dot != std::u16string_view::npos && dot + 1 != text.size())
            return std::nullopt; // only one trailing dot may follow the fourth part
        const auto value = ReadPart(part);
        if (!value)
            return std::nullopt;
        address = (address << 8) | *value;
        text = dot == std::u16string_view::npos ? std::u16string_view{} : text.substr(dot + 1);
    }
    return address;
}

} // namespace lumacast
