#pragma once

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
    int fd() const { return fd_; }

    // Sleeps up to `ms`; true when the signal cut the sleep short.
    bool WaitFor(unsigned ms) const;

private:
    int fd_;
};

} // namespace lumacast
