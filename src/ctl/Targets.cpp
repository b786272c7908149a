#include "ctl/Targets.h"

#include "link/DeviceSession.h"
#include "platform/AbortSignal.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace lumacast::ctl {
namespace {

// The first frame carries the command; later frames of a wait carry nothing.
class OneCommand : public SessionEvents {
public:
    explicit OneCommand(const PendingCommands &pending) : pending_(pending) { }
    std::string NextCommandField() override { return TakeCommandField(pending_); }

private:
    PendingCommands pending_;
};

void RunOne(TargetResult &result, const Exchange &exchange, const AbortSignal &stop)
{
    SessionSettings settings;
    settings.port = exchange.port;
    settings.connectLimit = exchange.timeout;
    settings.attemptBound = exchange.timeout;
    OneCommand events(exchange.pending);
    DeviceSession session(AddressText(result.address), std::move(settings), events, stop, &stop);
    const SessionEnd end = exchange.wait ? session.Run(RunMode::Until(*exchange.wait, exchange.reached))
                                         : session.Run(RunMode::Once());
    if (session.LastState())
        result.status = session.LastState()->raw;
    if (!end.Succeeded())
        result.error = EndWords(end);
}

} // namespace

std::function<bool(const DeviceState &)> GoalOf(const PendingCommands &pending)
{
    if (pending.PowerCmd == '1' || pending.PowerCmd == '0') {
        const PowerState want = pending.PowerCmd == '1' ? PowerState::On : PowerState::Off;
        return [want](const DeviceState &s) { return s.power == want; };
    }
    if (pending.LampCmd == '1' || pending.LampCmd == '0') {
        const bool want = pending.LampCmd == '1';
        return [want](const DeviceState &s) { return s.lamp == want; };
    }
    if (pending.MuteCmd == '1' || pending.MuteCmd == '0') {
        const bool want = pending.MuteCmd == '1';
        return [want](const DeviceState &s) { return s.mute == want; };
    }
    const int input = pending.InpSelCmd - '0';
    return [input](const DeviceState &s) { return s.input == input; };
}

std::vector<TargetResult> RunTargets(const std::vector<std::string> &targets, const Exchange &exchange,
                                     const AbortSignal &stop, const ThreadStarter &startThread)
{
    std::vector<TargetResult> results(targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i)
        results[i].address = targets[i];

    // A target holds its descriptors only while a worker has it, so any
    // number of targets runs within a modest limit on open files.
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < targets.size();)
            RunOne(results[i], exchange, stop);
    };
    std::vector<std::thread> workers;
    const std::size_t count = std::min(targets.size(), MaxParallel);
    int refused = 0;
    for (std::size_t w = 0; w < count; ++w) {
        try {
            workers.push_back(startThread(work));
        } catch (const std::system_error &e) {
            // Fewer workers take turns instead; without any, this thread
            // works alone.
            refused = e.code().value();
            break;
        }
    }
    if (workers.empty() && refused != 0)
        work();
    for (auto &worker : workers)
        worker.join();
    return results;
}

std::thread StartThread(std::function<void()> work)
{
    return std::thread(std::move(work));
}

} // namespace lumacast::ctl
