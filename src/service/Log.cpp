#include "service/Log.h"

namespace lumacast {

void Log::Line(std::string_view text)
{
    std::lock_guard lock(mutex_);
    out_ << "lumacast2d: " << text << std::endl;
}

} // namespace lumacast
