#pragma once

#include <functional>

class QObject;

namespace lumacast {

// A wake-up that any thread raises and the UI thread's event loop watches.
// Unlike a posted Qt event it hands the UI thread nothing the raiser
// allocated, and raising and watching order both threads for
// ThreadSanitizer too.
class WakeUp {
public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp &) = delete;
    WakeUp &operator=(const WakeUp &) = delete;

    // False when the system could not make one (out of descriptors).
    bool Valid() const { return handle_ >= 0; }

    // Never blocks; raising an already raised wake-up changes nothing.
    void Raise() noexcept;

    // Calls `woken` on the UI thread after each raise, the wake-up reset
    // first. The watcher is a child of the application object, returned so
    // the caller can tell whether one exists. UI thread; null when not Valid.
    QObject *Watch(std::function<void()> woken);

private:
    int handle_ = -1;
};

} // namespace lumacast
