#pragma once

#include <mutex>
#include <ostream>
#include <string_view>

namespace lumacast {

// One line per event, whole, from any thread: "lumacast2d: " and the text.
class Log {
public:
    explicit Log(std::ostream &out) : out_(out) { }
    void Line(std::string_view text);

private:
    std::mutex mutex_;
    std::ostream &out_;
};

} // namespace lumacast
