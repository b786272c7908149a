#include "link/PollingThread.h"

namespace lumacast {

std::string CommandField;
DeviceStatusChars DeviceStatus;

TPollingThread::TPollingThread(const QString &aIP, std::uint16_t aPort, PollerWindow &window,
                               std::shared_ptr<HandOffQueue> handOffs, TickSource ticks)
    : WorkerThread(std::move(handOffs)), FRemoteIP(aIP), FRemotePort(aPort), window_(window),
      ticks_(std::move(ticks))
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

void TPollingThread::Connected()
{
    Synchronize([this] { ShowConnected(); });
}

std::string TPollingThread::NextCommandField()
{
    Synchronize([this] { BuildCommand(); });
    return CommandField;
}

void TPollingThread::StateAccepted(const DeviceState &state)
{
    DeviceStatus = state.raw;
    Synchronize([this] { ShowStatus(); });
}

void TPollingThread::Execute()
{
    SessionSettings settings;
    settings.port = FRemotePort;
    // The window's session: the stop is seen at the top of an iteration
    // only, and a reply that misses its window waits for the next frame.
    settings.wholePauses = true;
    settings.lookAtLapse = false;
    settings.ticks = ticks_;
    DeviceSession session(FRemoteIP.toStdU16String(), std::move(settings), *this, StopSignal(), &abort_);
    try {
        session.Run(RunMode::Forever());
    } catch (...) {
        // A hand-off that failed ends the thread silently, like any failure.
    }
}

} // namespace lumacast
