#pragma once

#include "link/DeviceExchange.h"
#include "link/DeviceSession.h"
#include "link/PollerWindow.h"
#include "link/Protocol.h"
#include "platform/AbortSignal.h"
#include "platform/TcpClient.h"
#include "platform/Ticks.h"
#include "platform/WorkerThread.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>

namespace lumacast {

// The five characters of the next command frame.
extern std::string CommandField;
// Power, lamp, mute and input of the last accepted status reply.
extern DeviceStatusChars DeviceStatus;

// The loop's timings, derived from the pause and the reply window above and the
// linger of TcpClient.h. The first look follows the send by a pause; a reply,
// taken or not, is followed by two pauses, a lapsed reply window by one.
// A frame's period with a device that answers at once, and with one that never does.
inline constexpr std::chrono::milliseconds ResponsiveCycle{3 * IterationPauseMs};
inline constexpr std::chrono::milliseconds SilentCycle{ReplyWindowMs + IterationPauseMs};
// How long the stop request takes to end the thread once no connect, lookup
// or send holds it: the rest of the pauses after a reply, then the read-away.
inline constexpr std::chrono::milliseconds StopLatency =
    std::chrono::milliseconds{2 * IterationPauseMs} + DisconnectLinger;

// The window's one device session on a thread of its own: its events reach
// the window through the hand-off steps, each run on the UI thread while the
// session waits.
class TPollingThread : public WorkerThread, private SessionEvents {
public:
    TPollingThread(const QString &aIP, std::uint16_t aPort, PollerWindow &window,
                   std::shared_ptr<HandOffQueue> handOffs, TickSource ticks = TickCount);
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

    void Connected() override;
    std::string NextCommandField() override;
    void StateAccepted(const DeviceState &state) override;

    const QString FRemoteIP;
    const std::uint16_t FRemotePort;
    PollerWindow &window_;
    TickSource ticks_;
    AbortSignal abort_;
};

} // namespace lumacast
