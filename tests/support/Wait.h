#pragma once

#include <chrono>
#include <functional>

namespace lumacast::test {

using namespace std::chrono_literals;

// What the UI thread does while it waits.
enum class Serving {
    All, // runs queued hand-offs itself, and the application's events
    EventLoop, // the application's events alone: hand-offs only through their wake-up
    Nothing, // tests the condition only; any thread may wait so
};

// Waits until `done` holds or `limit` has passed, serving meanwhile as
// `serving` says. False on time-out: wrap it in ASSERT_TRUE so a wait that
// fails fails the test.
bool WaitUntil(const std::function<bool()> &done, std::chrono::milliseconds limit = 5s,
               Serving serving = Serving::All);

} // namespace lumacast::test
