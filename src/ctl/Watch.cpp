#include "ctl/Watch.h"

#include "link/DeviceSession.h"
#include "link/TimeText.h"
#include "link/Watch.h"
#include "platform/AbortSignal.h"

#include <atomic>
#include <cerrno>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace lumacast::ctl {
namespace {

// One line at a time from every target's thread, each flushed at once so a
// script reading the stream sees it as it happens.
class Lines {
public:
    Lines(std::ostream &out, AbortSignal &stop) : out_(out), stop_(stop) { }

    void Write(const std::string &line)
    {
        std::lock_guard lock(mutex_);
        if (failed_ != 0)
            return;
        out_ << line << '\n' << std::flush;
        if (!out_) {
            failed_ = errno; // the failed write's, as the stream left it
            stop_.Signal();
        }
    }
    // The system's error number of a write that failed; 0 while none has.
    int Failed() const
    {
        std::lock_guard lock(mutex_);
        return failed_;
    }

private:
    mutable std::mutex mutex_;
    std::ostream &out_;
    AbortSignal &stop_;
    int failed_ = 0;
};

class TargetWatch : public WatchEvents {
public:
    TargetWatch(std::string address, bool json, Lines &lines)
        : address_(std::move(address)), json_(json), lines_(lines)
    {
    }

    void Connected() override
    {
        printed_.reset(); // the first state after a connect is always told
        Event("connected", {}, "connected");
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
        Event("state", ", " + StateJsonFields(state),
              std::string("power ") + PowerWord(state.power) + "  lamp " + OnOffWord(state.lamp) + "  mute " +
                  OnOffWord(state.mute) + "  input " + InputWord(state.input));
    }
    void Ended(const SessionEnd &end, std::optional<std::chrono::milliseconds> retryIn) override
    {
        if (end.reason == EndReason::Stopped)
            return;
        fault_ = true;
        const std::string words = EndWords(end);
        Event("ended", ", \"error\": " + JsonString(words),
              "ended: " + words + (retryIn ? "; next try in " + SecondsText(*retryIn) : std::string()));
    }

    // Ends that the watch could not even start.
    void Failed(const SessionEnd &end) { Ended(end, std::nullopt); }
    bool Fault() const { return fault_; }

private:
    void Event(const char *event, const std::string &jsonFields, const std::string &words)
    {
        const std::string time = IsoTimeUtc(std::chrono::system_clock::now());
        if (json_)
            lines_.Write("{\"time\": " + JsonString(time) + ", \"address\": " + JsonString(address_) +
                         ", \"event\": \"" + event + "\"" + jsonFields + "}");
        else
            lines_.Write(time + "  " + address_ + "  " + words);
    }

    const std::string address_;
    const bool json_;
    Lines &lines_;
    std::optional<DeviceState> printed_;
    std::atomic<bool> fault_{false};
};

} // namespace

int RunWatch(const std::vector<std::string> &targets, const WatchSettings &settings, std::ostream &out,
             std::ostream &err, AbortSignal &stop)
{
    Lines lines(out, stop);
    SessionSettings session;
    session.port = settings.port;
    session.connectLimit = settings.timeout;
    session.attemptBound = settings.timeout;

    std::vector<std::unique_ptr<TargetWatch>> watches;
    std::vector<std::thread> threads;
    bool unwatched = false;
    for (const std::string &target : targets) {
        watches.push_back(std::make_unique<TargetWatch>(target, settings.json, lines));
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

    if (const int cause = lines.Failed()) {
        err << "lumacast2-ctl: cannot write the output: " << std::generic_category().message(cause) << '\n';
        return 1;
    }
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
