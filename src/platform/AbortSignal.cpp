#include "platform/AbortSignal.h"

#include "platform/SocketError.h"

#include <cerrno>
#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lumacast {

AbortSignal::AbortSignal() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (fd_ < 0)
        throw SocketError("eventfd", errno);
}

AbortSignal::~AbortSignal()
{
    ::close(fd_);
}

void AbortSignal::Signal()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd_, &one, sizeof one);
}

} // namespace lumacast
