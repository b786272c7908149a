#include "link/Protocol.h"

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

} // namespace lumacast
