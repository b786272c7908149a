#pragma once

#include "link/DeviceState.h"
#include "link/SessionEnd.h"
#include "platform/TcpClient.h"
#include "platform/Ticks.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace lumacast {

class AbortSignal;

// What a session tells its owner, on the session's own thread. The owner
// decides how each reaches it: the panel hands them to its UI thread and
// waits, the command line takes them inline, a service on a loop of its own.
// An exception thrown here ends the session (its connection closed in
// order) and leaves Run.
class SessionEvents {
public:
    // The connection stands.
    virtual void Connected() { }
    // The five characters that the next frame carries; the owner takes its
    // pending commands here, once.
    virtual std::string NextCommandField() = 0;
    // An accepted reply, decoded.
    virtual void StateAccepted(const DeviceState &state) { (void)state; }

protected:
    ~SessionEvents() = default;
};

struct SessionSettings {
    std::uint16_t port = DevicePort;
    // The most that the host-name lookup and the connect may take together;
    // none: as long as the system's own attempt, which the bound ends.
    std::optional<std::chrono::milliseconds> connectLimit;
    std::chrono::milliseconds attemptBound = ConnectAttemptBound;
    // The stop is seen only at the top of an iteration, never in a pause
    // (the panel's way); otherwise a pause ends at the stop.
    bool wholePauses = false;
    // When the reply window ends, one last look before calling it lapsed: a
    // process held up (stopped, swapped out) finds the reply that waited.
    bool lookAtLapse = true;
    TickSource ticks = TickCount;
};

// How long a session runs: one frame and its reply; until a goal or the wait
// runs out; or until it is stopped or fails.
struct RunMode {
    enum class Kind { Once, UntilGoal, Forever };
    Kind kind = Kind::Forever;
    std::chrono::milliseconds wait{0};
    std::function<bool(const DeviceState &)> goal;

    static RunMode Once() { return {Kind::Once, {}, {}}; }
    static RunMode Until(std::chrono::milliseconds wait, std::function<bool(const DeviceState &)> goal)
    {
        return {Kind::UntilGoal, wait, std::move(goal)};
    }
    static RunMode Forever() { return {}; }
};

// One connection's life with one device, at the panel's cadence: connect,
// then frames that each carry the owner's pending commands and ask for a
// status reply, looked for about every 100 ms within the reply window;
// 200 ms after a reply the next frame, 100 ms after a lapse. Everything it
// holds is its own, so sessions run side by side, each on its own thread.
class DeviceSession {
public:
    // `address` is the text as given, read as the panel reads it at connect.
    // `stop` ends the session at the top of the next iteration and cuts a
    // send that waits for room; `abortConnect`, when given, ends a lookup
    // or connect in progress (the panel's stop waits for the system there).
    DeviceSession(std::u16string address, SessionSettings settings, SessionEvents &events,
                  const AbortSignal &stop, const AbortSignal *abortConnect);

    // Runs on the calling thread until the mode's end; the connection is
    // closed in order before it returns, also when an event throws.
    SessionEnd Run(const RunMode &mode);

    // The state of the last accepted reply, across runs.
    const std::optional<DeviceState> &LastState() const { return last_; }

private:
    std::optional<SessionEnd> Connect(TcpClient &client);
    SessionEnd Cycle(TcpClient &client, const RunMode &mode);
    void Pause(unsigned ms) const;

    std::u16string address_;
    SessionSettings settings_;
    SessionEvents &events_;
    const AbortSignal &stop_;
    const AbortSignal *abortConnect_;
    std::optional<DeviceState> last_;
};

// A text of the command line or a file as an address text.
std::u16string AddressText(std::string_view utf8);

} // namespace lumacast
