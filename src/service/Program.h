#pragma once

#include <string>
#include <vector>

namespace lumacast {

// lumacast2d from its arguments (those after the program's name) to its exit status.
int ServiceMain(const std::vector<std::string> &args);

} // namespace lumacast
