#pragma once

#include <chrono>
#include <functional>

namespace lumacast::test {

using namespace std::chrono_literals;

// Waits until `done` holds or `limit` has passed, serving the UI thread's
// hand-offs and (where an application object exists) its events meanwhile.
// False on time-out: wrap it in ASSERT_TRUE so a wait that fails fails the test.
bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s);

} // namespace lumacast::test
