#include "link/SessionEnd.h"

#include <system_error>

namespace lumacast {
namespace {

// The system's text for an error number, in a sentence's middle.
std::string Plain(int errorNumber)
{
    std::string text = std::generic_category().message(errorNumber);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

// A reply's text as a person can read it in one line.
std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            out += '?';
        else
            out += c;
    }
    return out;
}

} // namespace

std::string SecondsText(std::chrono::milliseconds ms)
{
    const auto whole = ms.count() / 1000;
    const auto rest = ms.count() % 1000;
    std::string text = std::to_string(whole);
    if (rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        while (fraction.back() == '0')
            fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

std::string EndWords(const SessionEnd &end)
{
    switch (end.reason) {
    case EndReason::Stopped:
        return "interrupted";
    case EndReason::NotAnAddress:
        return end.errorNumber == EAFNOSUPPORT ? "an IPv6 address never connects: give an IPv4 address"
                                               : "not a host name";
    case EndReason::HostNotFound:
        return "cannot resolve the host name";
    case EndReason::LookupTimedOut:
        return "the host name was not resolved within " + SecondsText(end.limit);
    case EndReason::Refused:
        return "connection refused";
    case EndReason::Unreachable:
    case EndReason::ConnectFailed:
        return "cannot connect: " + Plain(end.errorNumber);
    case EndReason::ConnectTimedOut:
        return "no connection within " + SecondsText(end.limit);
    case EndReason::NoDescriptor:
        return "too many open files";
    case EndReason::NoThread:
        return "cannot start a thread for it: " + Plain(end.errorNumber);
    case EndReason::ClosedByDevice:
        return "the device closed the connection";
    case EndReason::ResetByDevice:
        return "the device reset the connection";
    case EndReason::SendFailed:
    case EndReason::ReceiveFailed:
        return "connection lost: " + Plain(end.errorNumber);
    case EndReason::ReplyLapsed:
        return "no reply within " + SecondsText(end.limit);
    case EndReason::Rejected:
        return "rejected reply \"" + Printable(end.taken) + "\"";
    case EndReason::GoalNotReached:
        return "did not reach the asked state within " + SecondsText(end.limit);
    case EndReason::NoStatusReply:
        return "replies came, but none was a status reply within " + SecondsText(end.limit);
    case EndReason::Answered:
    case EndReason::GoalReached:
        break;
    }
    return {};
}

} // namespace lumacast
