#pragma once

#include "platform/HandOff.h"

namespace lumacast::test {

// Serves hand-offs again when the scope ends, however the test leaves it, so
// a cut-off in one test never reaches the next.
struct HandOffGuard {
    HandOffGuard() { handoff::Reopen(); }
    ~HandOffGuard() { handoff::Reopen(); }
    HandOffGuard(const HandOffGuard &) = delete;
    HandOffGuard &operator=(const HandOffGuard &) = delete;
};

} // namespace lumacast::test
