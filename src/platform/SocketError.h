#pragma once

#include <stdexcept>
#include <string>

namespace lumacast {

// A failed socket call, carrying the system's errno.
class SocketError : public std::runtime_error {
public:
    SocketError(const std::string &what, int errorNumber)
        : std::runtime_error(what), errorNumber_(errorNumber)
    {
    }
    int ErrorNumber() const { return errorNumber_; }

private:
    int errorNumber_;
};

} // namespace lumacast
