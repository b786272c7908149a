#pragma once

#include <atomic>

namespace lumacast {

// A level-triggered flag that a blocking socket wait can poll beside its
// socket, so another thread can cut the wait short. Signal() is thread-safe.
class AbortSignal {
public:
    AbortSignal();
    ~AbortSignal();
    AbortSignal(const AbortSignal &) = delete;
    AbortSignal &operator=(const AbortSignal &) = delete;

    void Signal();
    bool Signalled() const;
    int Fd() const { return fd_; }

    // Sleeps up to `ms`; true when the signal cut the sleep short.
    bool WaitFor(unsigned ms) const;

private:
    int fd_;
    // Read by Signalled() without a system call: a thousand sessions ask at
    // every step.
    std::atomic<bool> signalled_{false};
};

} // namespace lumacast
