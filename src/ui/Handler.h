#pragma once

#include <exception>
#include <utility>

namespace lumacast {

// Throws `error` again from a call of its own that the event loop makes
// next, where the program shows it as it shows any error of a handler.
void RaiseFromEventLoop(std::exception_ptr error);

// A window handler as a signal's slot. The toolkit's widget code is built
// without unwinding: an error thrown through its frames skips their
// destructors and leaks what they hold (the mouse event of a click). So the
// error stops here and goes on to the event loop from a frame of its own.
template <typename Body> auto Handler(Body body)
{
    return [body = std::move(body)] {
        try {
            body();
        } catch (...) {
            RaiseFromEventLoop(std::current_exception());
        }
    };
}

} // namespace lumacast
