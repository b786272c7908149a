#include "platform/EndSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/signalfd.h>
#include <system_error>
#include <unistd.h>

namespace lumacast {
namespace {

sigset_t EndSignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGHUP);
    return set;
}

} // namespace

void BlockEndSignals()
{
    const sigset_t set = EndSignals();
    if (const int rc = ::pthread_sigmask(SIG_BLOCK, &set, nullptr); rc != 0)
        throw std::system_error(rc, std::generic_category(), "pthread_sigmask");
}

EndSignalWatcher::EndSignalWatcher(std::function<void()> onSignal) : onSignal_(std::move(onSignal))
{
    const sigset_t set = EndSignals();
    fd_ = ::signalfd(-1, &set, SFD_NONBLOCK | SFD_CLOEXEC);
    if (fd_ < 0) {
        // Blocked and unwatched they would be lost, and a program that no
        // signal ends is worse than one that ends abruptly.
        (void)::pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] {
        signalfd_siginfo info{};
        bool any = false;
        // Several signals may wait; one end serves them all.
        while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info))
            any = true;
        if (any && onSignal_)
            onSignal_();
    });
}

EndSignalWatcher::~EndSignalWatcher()
{
    notifier_.reset();
    if (fd_ >= 0)
        ::close(fd_);
}

} // namespace lumacast
