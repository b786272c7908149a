#include "platform/AbortSignal.h"

#include "platform/SocketError.h"
#include "platform/SocketErrorText.h"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lumacast {

AbortSignal::AbortSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    // Its failure reads like any other socket resource's, in the box too.
    if (fd_ < 0)
        throw SocketError(SocketErrorMessage(errno), errno);
}

AbortSignal::~AbortSignal()
{
    ::close(fd_);
}

void AbortSignal::Signal()
{
    signalled_.store(true);
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then it is signalled anyway.
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

bool AbortSignal::Signalled() const
{
    return signalled_.load();
}

bool AbortSignal::WaitFor(unsigned ms) const
{
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0)
            return Signalled();
        pollfd p{fd_, POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return Signalled();
    }
}

} // namespace lumacast
