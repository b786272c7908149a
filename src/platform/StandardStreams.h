#pragma once

namespace lumacast {

// Gives each closed standard stream (input, output, error) a stand-in that
// fails every use as a closed stream does, so that no socket opened later
// takes its number and carries what is written there.
void HoldClosedStandardStreams() noexcept;

} // namespace lumacast
