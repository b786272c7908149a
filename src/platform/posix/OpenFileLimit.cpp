#include "platform/OpenFileLimit.h"

#include <algorithm>
#include <sys/resource.h>

namespace lumacast {

std::uint64_t RaiseOpenFileLimit(std::uint64_t wanted) noexcept
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return 0;
    // RLIM_INFINITY is the largest value, so min() leaves it the bound it is.
    if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < wanted) {
        rlimit raised = limit;
        raised.rlim_cur = std::min<rlim_t>(wanted, limit.rlim_max);
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
    }
    return limit.rlim_cur;
}

} // namespace lumacast
