#include "link/DeviceSession.h"

#include "link/DeviceExchange.h"
#include "platform/AbortSignal.h"

#include <QString>

#include <cerrno>

namespace lumacast {
namespace {

using Clock = std::chrono::steady_clock;

bool OutOfDescriptors(int e)
{
    return e == EMFILE || e == ENFILE;
}

SessionEnd ConnectEnd(const ConnectError &e, std::chrono::milliseconds limit)
{
    const int n = e.ErrorNumber();
    switch (e.Step()) {
    case ConnectStep::Address:
        return {EndReason::NotAnAddress, n};
    case ConnectStep::Resolve:
        if (n == ETIMEDOUT)
            return {EndReason::LookupTimedOut, n, limit};
        if (OutOfDescriptors(n))
            return {EndReason::NoDescriptor, n};
        if (n == EAGAIN)
            return {EndReason::NoThread, n};
        return {EndReason::HostNotFound, n};
    case ConnectStep::Connect:
        break;
    }
    switch (n) {
    case ECONNREFUSED:
        return {EndReason::Refused, n};
    case ENETUNREACH:
    case EHOSTUNREACH:
        return {EndReason::Unreachable, n};
    case ETIMEDOUT:
        return {EndReason::ConnectTimedOut, n, limit};
    default:
        return {OutOfDescriptors(n) ? EndReason::NoDescriptor : EndReason::ConnectFailed, n};
    }
}

} // namespace

std::u16string AddressText(std::string_view utf8)
{
    const QString text = QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
    return text.toStdU16String();
}

DeviceSession::DeviceSession(std::u16string address, SessionSettings settings, SessionEvents &events,
                             const AbortSignal &stop, const AbortSignal *abortConnect)
    : address_(std::move(address)), settings_(std::move(settings)), events_(events), stop_(stop),
      abortConnect_(abortConnect)
{
}

SessionEnd DeviceSession::Run(const RunMode &mode)
{
    TcpClient client(ReplyKeepBytes, settings_.attemptBound);
    try {
        if (auto failed = Connect(client))
            return *failed;
        events_.Connected();
        SessionEnd end = Cycle(client, mode);
        client.Disconnect();
        end.connected = true;
        return end;
    } catch (const SocketError &e) {
        // Only a look's receive error reaches here; a send's is its own end.
        client.Disconnect();
        SessionEnd end =
            stop_.Signalled() ? SessionEnd{} : SessionEnd{EndReason::ReceiveFailed, e.ErrorNumber()};
        end.connected = true;
        return end;
    } catch (...) {
        client.Disconnect();
        throw;
    }
}

std::optional<SessionEnd> DeviceSession::Connect(TcpClient &client)
{
    try {
        ConnectToDevice(client, address_, settings_.port, abortConnect_, settings_.connectLimit);
        return std::nullopt;
    } catch (const ConnectError &e) {
        if (stop_.Signalled() || e.ErrorNumber() == ECANCELED)
            return SessionEnd{};
        return ConnectEnd(e, settings_.connectLimit.value_or(settings_.attemptBound));
    }
}

void DeviceSession::Pause(unsigned ms) const
{
    if (settings_.wholePauses)
        SleepMs(ms);
    else
        stop_.WaitFor(ms);
}

SessionEnd DeviceSession::Cycle(TcpClient &client, const RunMode &mode)
{
    const bool once = mode.kind == RunMode::Kind::Once;
    const bool until = mode.kind == RunMode::Kind::UntilGoal;
    const auto waitEnd = Clock::now() + mode.wait;
    constexpr std::chrono::milliseconds Window{ReplyWindowMs};
    bool awaiting = false;
    bool firstFrame = true;
    bool sawBytes = false;
    bool sawStatus = false;
    std::uint32_t sentAt = 0;
    for (;;) {
        if (stop_.Signalled())
            return {};
        bool tookReply = false;
        if (!awaiting) {
            const std::string field = events_.NextCommandField();
            try {
                client.Send(ComposeFrame(field), &stop_);
            } catch (const SocketError &e) {
                return stop_.Signalled() ? SessionEnd{} : SessionEnd{EndReason::SendFailed, e.ErrorNumber()};
            }
            sentAt = settings_.ticks();
            awaiting = true;
        } else {
            // After the first frame a wait's end also ends the looks: the
            // first gets its whole reply window, however short the wait.
            const bool open = ReplyWindowOpen(settings_.ticks(), sentAt) &&
                !(until && !firstFrame && Clock::now() >= waitEnd);
            bool lapsed = !open;
            if (open || settings_.lookAtLapse) {
                const ReplyLook look = LookForReply(client);
                if (look.status) {
                    last_ = ReadDeviceState(*look.status);
                    sawStatus = true;
                    events_.StateAccepted(*last_);
                }
                sawBytes = sawBytes || look.taken;
                if (once && look.taken)
                    return look.status ? SessionEnd{EndReason::Answered}
                                       : SessionEnd{EndReason::Rejected, 0, {}, look.reply};
                if (until && look.status && mode.goal && mode.goal(*last_))
                    return {EndReason::GoalReached};
                // A device that has gone is noticed here, not at the next
                // frame's send, so no pending command is taken for a frame
                // that can never leave.
                if (look.closed)
                    return {look.reset ? EndReason::ResetByDevice : EndReason::ClosedByDevice};
                if (look.taken) {
                    awaiting = false;
                    lapsed = false;
                    firstFrame = false;
                    tookReply = true;
                }
            }
            if (lapsed) {
                awaiting = false;
                firstFrame = false;
                if (once)
                    return {EndReason::ReplyLapsed, 0, Window};
            }
        }
        if (until && !awaiting && Clock::now() >= waitEnd)
            return sawStatus ? SessionEnd{EndReason::GoalNotReached, 0, mode.wait}
                : sawBytes   ? SessionEnd{EndReason::NoStatusReply, 0, mode.wait}
                             : SessionEnd{EndReason::ReplyLapsed, 0, Window};
        // A reply taken is followed by two pauses in one, a lapse or a look
        // that found nothing by one.
        Pause(tookReply ? 2 * IterationPauseMs : IterationPauseMs);
    }
}

} // namespace lumacast
