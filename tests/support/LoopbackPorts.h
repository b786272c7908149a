#pragma once

#include <cstdint>
#include <vector>

namespace lumacast::test {

// A loopback TCP port that nothing listens on: a connect is refused.
std::uint16_t ClosedPort();

// A loopback listener whose backlog is full and which never accepts, so a
// further connect attempt hangs until the caller gives it up.
class StalledListener {
public:
    StalledListener();
    ~StalledListener();
    StalledListener(const StalledListener &) = delete;
    StalledListener &operator=(const StalledListener &) = delete;

    std::uint16_t port() const { return port_; }

private:
    int listenFd_ = -1;
    std::vector<int> fillers_;
    std::uint16_t port_ = 0;
};

} // namespace lumacast::test
