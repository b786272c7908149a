#include "link/PollingThread.h"

#include "platform/HandOff.h"
#include "platform/TcpClient.h"

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
    ConnectToDevice(*TCPClient,
                    std::u16string_view(reinterpret_cast<const char16_t *>(FRemoteIP.utf16()),
                                        static_cast<std::size_t>(FRemoteIP.size())),
                    FRemotePort, &abort_);
}

void TPollingThread::Execute()
{
    TCPClient = std::make_unique<TcpClient>(ReplyKeepBytes);
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
            } else if (ReplyWindowOpen(ticks_(), sentAt)) {
                const ReplyLook look = LookForReply(*TCPClient);
                if (look.status) {
                    DeviceStatus = *look.status;
                    Synchronize([this] { ShowStatus(); });
                }
                // A device that has gone is noticed here, not at the next
                // frame's send, so no pending command is taken for a frame
                // that can never leave.
                if (look.closed)
                    break;
                if (look.taken) {
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
