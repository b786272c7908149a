#include "DeviceModel.h"

#include "discovery/DiscoveryRequest.h"
#include "link/Protocol.h"

#include <cstdio>

namespace lumacast::sim {

bool IsWellFormedFrame(std::string_view bytes)
{
    return bytes.size() == FrameLength && bytes.substr(0, 3) == FrameHeader && bytes[8] == '\r';
}

bool DeviceModel::Apply(std::string_view frame, Millis now)
{
    if (!IsWellFormedFrame(frame))
        return false;
    const char power = frame[3], lamp = frame[4], mute = frame[5], input = frame[6];
    if (power == '1' && !powered_) {
        // Switching on while on or warming up does not restart the warm-up.
        powered_ = true;
        poweredAt_ = now;
    } else if (power == '0') {
        powered_ = false;
    }
    if (lamp == '0' || lamp == '1')
        lamp_ = lamp;
    if (mute == '0' || mute == '1')
        mute_ = mute;
    if (input >= '1' && input < '1' + InputCount)
        input_ = input;
    return true;
}

std::string DeviceModel::Status(Millis now) const
{
    char power = '0';
    if (powered_)
        power = now - poweredAt_ >= warmUp_ ? '1' : '2';
    return {power, lamp_, mute_, input_};
}

std::string DeviceModel::Reply(Millis now) const
{
    return std::string(ReplyHeader) + Status(now) + std::string(ReplyFiller);
}

std::vector<FrameCutter::Piece> FrameCutter::Feed(std::string_view bytes)
{
    std::vector<Piece> pieces;
    std::string garbage;
    auto flushGarbage = [&] {
        if (!garbage.empty())
            pieces.push_back({false, std::move(garbage)});
        garbage.clear();
    };

    buffer_.append(bytes);
    for (;;) {
        const auto at = buffer_.find(FrameHeader);
        if (at == std::string::npos) {
            // Keep only a tail that may still grow into "@C1".
            std::size_t keep = 0;
            if (buffer_.ends_with("@C"))
                keep = 2;
            else if (buffer_.ends_with('@'))
                keep = 1;
            garbage.append(buffer_, 0, buffer_.size() - keep);
            buffer_.erase(0, buffer_.size() - keep);
            break;
        }
        garbage.append(buffer_, 0, at);
        buffer_.erase(0, at);
        if (buffer_.size() < FrameLength)
            break;
        if (buffer_[FrameLength - 1] == '\r') {
            flushGarbage();
            pieces.push_back({true, buffer_.substr(0, FrameLength)});
            buffer_.erase(0, FrameLength);
        } else {
            // Not a frame after all: drop its '@' and look for the next header,
            // which may lie inside these nine bytes.
            garbage += buffer_[0];
            buffer_.erase(0, 1);
        }
    }
    flushGarbage();
    return pieces;
}

std::string DistortReply(std::string reply, const ReplyFault &fault)
{
    if (fault.badHeader && reply.size() >= 2)
        reply[1] = 'C';
    if (fault.length > 0)
        reply.resize(static_cast<std::size_t>(fault.length), '0');
    return reply;
}

std::pair<std::string, std::string> SplitReply(const std::string &reply)
{
    const std::size_t half = reply.size() / 2;
    return {reply.substr(0, half), reply.substr(half)};
}

bool IsDiscoveryRequest(std::string_view datagram)
{
    return datagram == lumacast::DiscoveryRequest();
}

std::string Hex(std::string_view bytes)
{
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 3);
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!out.empty())
            out += ' ';
        out += Digits[b >> 4];
        out += Digits[b & 0x0F];
    }
    return out;
}

std::string FormatSeconds(Millis sinceStart)
{
    const long long ms = sinceStart.count() < 0 ? 0 : sinceStart.count();
    char text[32];
    std::snprintf(text, sizeof text, "%lld.%03lld", ms / 1000, ms % 1000);
    return text;
}

} // namespace lumacast::sim
