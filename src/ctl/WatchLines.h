#pragma once

#include "link/DeviceState.h"

#include <chrono>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

namespace lumacast {
class AbortSignal;
}

namespace lumacast::ctl {

// What a watch prints, one line at a time from every target's thread, each
// flushed at once so a script reading the stream sees it as it happens: a
// line for people, or a JSON object a line with the time, the address and
// the event.
class WatchLines {
public:
    // A write that fails signals `stop`: nobody would see what follows.
    WatchLines(std::ostream &out, bool json, AbortSignal &stop) : out_(out), json_(json), stop_(stop) { }

    void Connected(const std::string &address);
    void State(const std::string &address, const DeviceState &state);
    void Ended(const std::string &address, const std::string &words,
               std::optional<std::chrono::milliseconds> retryIn);

    // Tells on `err` why the output failed, when it did.
    bool ToldFailure(std::ostream &err) const;

private:
    void Event(const std::string &address, const char *event, const std::string &jsonFields,
               const std::string &words);

    mutable std::mutex mutex_;
    std::ostream &out_;
    const bool json_;
    AbortSignal &stop_;
    int failed_ = 0; // the failed write's error number
};

} // namespace lumacast::ctl
