#pragma once

#include <string>
#include <vector>

namespace lumacast {

class AbortSignal;

// The address of every device that answers one discovery, as the panel
// sends it; `error` told where none could be asked.
std::vector<std::string> FindDevices(const AbortSignal &stop, std::string &error);

} // namespace lumacast
