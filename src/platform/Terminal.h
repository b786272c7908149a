#pragma once

namespace lumacast {

enum class StandardStream { Output, Error };

// Whether the stream goes to a terminal (and so may carry colour).
bool IsTerminal(StandardStream stream) noexcept;

} // namespace lumacast
