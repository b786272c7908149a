#include "platform/Process.h"

#include <cstdio>
#include <unistd.h>

namespace lumacast {

void EndProcessAtOnce(int status)
{
    std::fflush(nullptr);
    ::_exit(status);
}

} // namespace lumacast
