#include "link/PollingThread.h"

#include "platform/HandOff.h"
#include "platform/SocketError.h"
#include "platform/TcpClient.h"

#include <cerrno>

namespace lumacast {

std::string CommandField;
DeviceStatusChars DeviceStatus;

TPollingThread::TPollingThread(const QString &aIP, std::uint16_t aPort, PollerWindow &window,
                               TickSource ticks)
    : FRemoteIP(aIP), FRemotePort(aPort), window_(window), ticks_(std::move(ticks))
{
}

TPollingThread::~TPollingThread() = default;

void TPollingThread::ShowConnected()
{
    window_.ShowConnectedTo(FRemoteIP);
}

void TPollingThread::BuildCommand()
{
    CommandField = TakeCommandField(window_.Pending());
}

void TPollingThread::ShowStatus()
{
    window_.ShowDeviceStatus(DeviceStatus);
}

void TPollingThread::Connect()
{
    const std::u16string_view text(reinterpret_cast<const char16_t *>(FRemoteIP.utf16()),
                                   static_cast<std::size_t>(FRemoteIP.size()));
    Ipv4Address address;
    if (const auto dotted = ReadConnectAddress(text)) {
        address.value = *dotted;
    } else {
        if (FRemoteIP.contains(QChar(0)))
            throw SocketError("host name holds a zero character", EINVAL);
        // The system's resolution reads IPv4-mapped IPv6 text as an IPv4
        // address; an IPv6 text must never connect, and no host name holds a
        // colon.
        if (FRemoteIP.contains(QChar(':')))
            throw SocketError("an IPv6 address text", EAFNOSUPPORT);
        address = TcpClient::ResolveIPv4(FRemoteIP.toStdString(), &abort_);
    }
    TCPClient->Connect(address, FRemotePort, &abort_);
}

void TPollingThread::Execute()
{
    // A look keeps one byte more than a status reply: enough to reject a
    // longer one, whatever a device sends.
    TCPClient = std::make_unique<TcpClient>(StatusReplyLength + 1);
    try {
        Connect();
        Synchronize([this] { ShowConnected(); });

        bool awaitingReply = false;
        std::uint32_t sentAt = 0;
        while (!StopRequested()) {
            if (!awaitingReply) {
                Synchronize([this] { BuildCommand(); });
                TCPClient->Send(ComposeFrame(CommandField), &StopSignal());
                sentAt = ticks_();
                awaitingReply = true;
            } else if (static_cast<std::uint32_t>(ticks_() - sentAt) < ReplyWindowMs) {
                const auto check = TCPClient->CheckForData(DataWaitMs);
                if (check.received) {
                    if (const auto status = AcceptReply(DecodeReceived(TCPClient->TakeInput()))) {
                        DeviceStatus = *status;
                        Synchronize([this] { ShowStatus(); });
                    }
                }
                // A device that has gone is noticed here, not at the next
                // frame's send, so no pending command is taken for a frame
                // that can never leave.
                if (check.closed)
                    break;
                if (check.received) {
                    awaitingReply = false;
                    SleepMs(IterationPauseMs);
                }
            } else {
                awaitingReply = false;
            }
            SleepMs(IterationPauseMs);
        }
    } catch (...) {
        // Connect, send and receive failures end the thread silently.
    }
    TCPClient->Disconnect();
    TCPClient.reset();
}

} // namespace lumacast
