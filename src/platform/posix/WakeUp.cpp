#include "platform/WakeUp.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cstdint>
#include <sys/eventfd.h>
#include <unistd.h>

namespace lumacast {

WakeUp::WakeUp() : handle_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) { }

WakeUp::~WakeUp()
{
    if (handle_ >= 0)
        ::close(handle_);
}

void WakeUp::Raise() noexcept
{
    const std::uint64_t one = 1;
    // Fails only when the counter is full, and then a wake-up is pending anyway.
    [[maybe_unused]] const auto written = ::write(handle_, &one, sizeof one);
}

QObject *WakeUp::Watch(std::function<void()> woken)
{
    if (!Valid())
        return nullptr;
    const int fd = handle_;
    auto *watcher = new QSocketNotifier(fd, QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(watcher, &QSocketNotifier::activated, [fd, woken = std::move(woken)] {
        std::uint64_t count = 0;
        // Only the counter's reset matters: an empty counter reads EAGAIN.
        [[maybe_unused]] const auto read = ::read(fd, &count, sizeof count);
        woken();
    });
    return watcher;
}

} // namespace lumacast
