#pragma once

#include <optional>
#include <string>

namespace lumacast {

// A password kept in a file: a regular file of at most 4 KiB, read whole,
// without its last line's end. Nothing, with `why` told, when it cannot be
// read so. `why` never holds the file's content.
std::optional<std::string> ReadSecretFile(const std::string &path, std::string &why);

} // namespace lumacast
