#include "platform/StandardStreams.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace lumacast {

void HoldClosedStandardStreams() noexcept
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        // Opened against its direction: a write to the output fails with
        // EBADF, as it would have. The lower streams are open by now, so the
        // system gives this very number; without /dev/null they stay as they are.
        if (::open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY) < 0)
            return;
    }
}

} // namespace lumacast
