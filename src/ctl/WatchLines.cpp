#include "ctl/WatchLines.h"

#include "link/SessionEnd.h"
#include "link/TimeText.h"
#include "platform/AbortSignal.h"

#include <cerrno>
#include <system_error>

namespace lumacast::ctl {

void WatchLines::Connected(const std::string &address)
{
    Event(address, "connected", {}, "connected");
}

void WatchLines::State(const std::string &address, const DeviceState &state)
{
    Event(address, "state", ", " + StateJsonFields(state),
          std::string("power ") + PowerWord(state.power) + "  lamp " + OnOffWord(state.lamp) + "  mute " +
              OnOffWord(state.mute) + "  input " + InputWord(state.input));
}

void WatchLines::Ended(const std::string &address, const std::string &words,
                       std::optional<std::chrono::milliseconds> retryIn)
{
    Event(address, "ended", ", \"error\": " + JsonString(words),
          "ended: " + words + (retryIn ? "; next try in " + SecondsText(*retryIn) : std::string()));
}

void WatchLines::Event(const std::string &address, const char *event, const std::string &jsonFields,
                       const std::string &words)
{
    const std::string time = IsoTimeUtc(std::chrono::system_clock::now());
    const std::string line = json_ ? "{\"time\": " + JsonString(time) +
            ", \"address\": " + JsonString(address) + ", \"event\": \"" + event + "\"" + jsonFields + "}"
                                   : time + "  " + address + "  " + words;
    std::lock_guard lock(mutex_);
    if (failed_ != 0)
        return;
    out_ << line << '\n' << std::flush;
    if (!out_) {
        failed_ = errno != 0 ? errno : EIO; // the failed write's, as the stream left it
        stop_.Signal();
    }
}

bool WatchLines::ToldFailure(std::ostream &err) const
{
    std::lock_guard lock(mutex_);
    if (failed_ == 0)
        return false;
    err << "lumacast2-ctl: cannot write the output: " << std::generic_category().message(failed_) << '\n';
    return true;
}

} // namespace lumacast::ctl
