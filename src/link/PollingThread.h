#pragma once

#include "link/DeviceExchange.h"
#include "link/PollerWindow.h"
#include "link/Protocol.h"
#include "platform/AbortSignal.h"
#include "platform/Ticks.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <cstdint>
#include <memory>

namespace lumacast {

class TcpClient;

// The five characters of the next command frame.
extern std::string CommandField;
// Power, lamp, mute and input of the last accepted status reply.
extern DeviceStatusChars DeviceStatus;

// Holds the one TCP connection to a device and polls it: each frame carries
// the pending commands and asks for a status reply.
class TPollingThread : public WorkerThread {
public:
    TPollingThread(const QString &aIP, std::uint16_t aPort, PollerWindow &window,
                   TickSource ticks = TickCount);
    ~TPollingThread() override;

    // Ends a connect attempt or host-name resolution that is still running,
    // for the program's end; the stop request alone waits for the system.
    void AbortConnect() { abort_.Signal(); }

protected:
    void Execute() override;

private:
    void ShowConnected();
    void BuildCommand();
    void ShowStatus();
    void Connect();

    const QString FRemoteIP;
    const std::uint16_t FRemotePort;
    std::unique_ptr<TcpClient> TCPClient;
    PollerWindow &window_;
    TickSource ticks_;
    AbortSignal abort_;
};

} // namespace lumacast
