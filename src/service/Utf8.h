#pragma once

#include <string_view>

namespace lumacast {

// Whether `text` is well-formed UTF-8: no overlong form, no surrogate, nothing
// above U+10FFFF.
bool IsUtf8(std::string_view text) noexcept;

} // namespace lumacast
