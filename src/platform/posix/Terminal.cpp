#include "platform/Terminal.h"

#include <unistd.h>

namespace lumacast {

bool IsTerminal(StandardStream stream) noexcept
{
    return ::isatty(stream == StandardStream::Output ? STDOUT_FILENO : STDERR_FILENO) == 1;
}

} // namespace lumacast
