#pragma once

#include <chrono>
#include <string>

namespace lumacast {

// Why a device session ended. The first group ends a session at any time;
// the second only the runs that end on an answer or a goal.
enum class EndReason {
    Stopped, // its owner stopped it
    NotAnAddress, // a text that never connects: an IPv6 address, a zero character
    HostNotFound,
    LookupTimedOut, // the host-name lookup did not finish within the limit
    Refused,
    Unreachable, // no route to the network or the host
    ConnectTimedOut, // the connect did not finish within the limit
    ConnectFailed, // any other failure of the connect
    NoDescriptor, // the process is out of descriptors
    NoThread, // the process cannot start another thread
    ClosedByDevice,
    ResetByDevice,
    SendFailed,
    ReceiveFailed,
    ReplyLapsed, // the reply window passed without a reply
    // Runs of one frame, or until a goal:
    Answered, // an accepted reply came (one frame)
    Rejected, // what came was not a status reply (one frame)
    GoalReached,
    GoalNotReached, // status replies came, but not the asked state
    NoStatusReply, // bytes came, but none was a status reply
};

struct SessionEnd {
    SessionEnd() = default;
    SessionEnd(EndReason why, int error = 0, std::chrono::milliseconds ranOut = {}, std::string rejected = {})
        : reason(why), errorNumber(error), limit(ranOut), taken(std::move(rejected))
    {
    }

    EndReason reason = EndReason::Stopped;
    int errorNumber = 0; // the system's, where one caused the end
    std::chrono::milliseconds limit{0}; // the time limit that ran out
    std::string taken; // what a rejected reply held, decoded
    bool connected = false; // the connection stood before the end

    // Whether the session got what it was run for.
    bool Succeeded() const { return reason == EndReason::Answered || reason == EndReason::GoalReached; }
};

// The words for an end, the same in every front end: "connection refused",
// "no reply within 3 s", ...
std::string EndWords(const SessionEnd &end);

// A duration as people read it: "5 s", "0.5 s", "2.25 s".
std::string SecondsText(std::chrono::milliseconds ms);

} // namespace lumacast
