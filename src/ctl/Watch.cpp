#include "ctl/Watch.h"

#include "ctl/WatchLines.h"
#include "link/DeviceSession.h"
#include "link/Watch.h"
#include "platform/AbortSignal.h"

#include <atomic>
#include <memory>
#include <system_error>
#include <thread>

namespace lumacast::ctl {
namespace {

class TargetWatch : public WatchEvents {
public:
    TargetWatch(std::string address, WatchLines &lines) : address_(std::move(address)), lines_(lines) { }

    void Connected() override
    {
        printed_.reset(); // the first state after a connect is always told
        lines_.Connected(address_);
    }
    std::string NextCommandField() override
    {
        PendingCommands none;
        return TakeCommandField(none);
    }
    void StateAccepted(const DeviceState &state) override
    {
        if (printed_ == state)
            return;
        printed_ = state;
        lines_.State(address_, state);
    }
    void Ended(const SessionEnd &end, std::optional<std::chrono::milliseconds> retryIn) override
    {
        if (end.reason == EndReason::Stopped)
            return;
        fault_ = true;
        lines_.Ended(address_, EndWords(end), retryIn);
    }

    // Ends that the watch could not even start.
    void Failed(const SessionEnd &end) { Ended(end, std::nullopt); }
    bool Fault() const { return fault_; }

private:
    const std::string address_;
    WatchLines &lines_;
    std::optional<DeviceState> printed_;
    std::atomic<bool> fault_{false};
};

} // namespace

int RunWatch(const std::vector<std::string> &targets, const WatchSettings &settings, std::ostream &out,
             std::ostream &err, AbortSignal &stop)
{
    WatchLines lines(out, settings.json, stop);
    SessionSettings session;
    session.port = settings.port;
    session.connectLimit = settings.timeout;
    session.attemptBound = settings.timeout;

    std::vector<std::unique_ptr<TargetWatch>> watches;
    std::vector<std::thread> threads;
    bool unwatched = false;
    for (const std::string &target : targets) {
        watches.push_back(std::make_unique<TargetWatch>(target, lines));
        TargetWatch &watch = *watches.back();
        try {
            threads.emplace_back([&watch, &target, &session, &stop, once = settings.once] {
                DeviceSession device(AddressText(target), session, watch, stop, &stop);
                KeepWatching(device, watch, stop, once);
            });
        } catch (const std::system_error &e) {
            // This target goes unwatched; the others go on.
            watch.Failed({EndReason::NoThread, e.code().value()});
            unwatched = true;
        }
    }
    for (auto &thread : threads)
        thread.join();

    if (lines.ToldFailure(err))
        return 1;
    if (unwatched)
        return 1;
    if (!settings.once)
        return 0;
    for (const auto &watch : watches)
        if (watch->Fault())
            return 1;
    return 0;
}

} // namespace lumacast::ctl
