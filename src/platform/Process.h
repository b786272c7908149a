#pragma once

namespace lumacast {

// Ends the process with `status` at once, after flushing the standard
// streams: no exit handlers and no destructors of static objects run.
[[noreturn]] void EndProcessAtOnce(int status);

} // namespace lumacast
