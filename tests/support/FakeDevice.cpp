#include "support/FakeDevice.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumacast::test {

FakeDevice::FakeDevice(Answer answer) : FakeDevice(std::move(answer), Behaviour::Frames, SIZE_MAX) { }

FakeDevice::FakeDevice(Behaviour behaviour, std::size_t streamLimit) : FakeDevice({}, behaviour, streamLimit)
{
}

FakeDevice::FakeDevice(Answer answer, Behaviour behaviour, std::size_t streamLimit)
    : answer_(std::move(answer)), behaviour_(behaviour), streamLimit_(streamLimit)
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listenFd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0)
        throw std::runtime_error("fake device cannot listen");
    socklen_t len = sizeof addr;
    ::getsockname(listenFd_, reinterpret_cast<sockaddr *>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    thread_ = std::thread([this] { serve(); });
}

FakeDevice::~FakeDevice()
{
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
    thread_.join();
    ::close(listenFd_);
    ::close(wakeFd_);
}

std::string FakeDevice::reply(const std::string &status4)
{
    return "@c1" + status4 + "00000";
}

std::vector<FakeDevice::Frame> FakeDevice::frames() const
{
    std::lock_guard lock(mutex_);
    return frames_;
}

int FakeDevice::connections() const
{
    std::lock_guard lock(mutex_);
    return connections_;
}

bool FakeDevice::sawEndOfStream() const
{
    std::lock_guard lock(mutex_);
    return endOfStream_;
}

bool FakeDevice::waitForFrames(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return frames_.size() >= count; });
}

bool FakeDevice::waitForEndOfStream(std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return endOfStream_; });
}

void FakeDevice::closeConnection(bool reset)
{
    {
        std::lock_guard lock(mutex_);
        closeRequested_ = true;
        resetRequested_ = reset;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(wakeFd_, &one, sizeof one);
}

void FakeDevice::send(const std::string &bytes)
{
    ::send(connFd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

void FakeDevice::stream()
{
    static const std::string chunk = [] {
        std::string c = reply("1102");
        c.resize(65536, '@');
        return c;
    }();
    const ssize_t n = ::send(connFd_, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0)
        sent_ += static_cast<std::size_t>(n);
}

void FakeDevice::serve()
{
    std::string pending;
    for (;;) {
        const Behaviour behaviour = behaviour_;
        const short connEvents = behaviour == Behaviour::Frames              ? POLLIN
            : behaviour == Behaviour::Streams && sent_.load() < streamLimit_ ? POLLOUT
                                                                             : 0;
        pollfd fds[3] = {{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {connFd_, connEvents, 0}};
        ::poll(fds, connFd_ >= 0 ? 3 : 2, connFd_ >= 0 && connEvents == 0 ? 20 : -1);
        if (fds[0].revents & POLLIN) {
            std::uint64_t v;
            [[maybe_unused]] auto n = ::read(wakeFd_, &v, sizeof v);
            std::lock_guard lock(mutex_);
            if (stopping_) {
                if (connFd_ >= 0)
                    ::close(connFd_);
                return;
            }
            if (closeRequested_ && connFd_ >= 0) {
                if (resetRequested_) {
                    linger l{1, 0};
                    ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
                }
                ::close(connFd_);
                connFd_ = -1;
            }
            closeRequested_ = false;
            continue;
        }
        if (fds[1].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                if (connFd_ >= 0)
                    ::close(connFd_);
                std::lock_guard lock(mutex_);
                connFd_ = fd;
                ++connections_;
                endOfStream_ = false;
                pending.clear();
            }
            continue;
        }
        if (connFd_ >= 0 && behaviour != Behaviour::Frames) {
            if (fds[2].revents & POLLOUT)
                stream();
            continue;
        }
        if (connFd_ >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
            char buffer[512];
            const ssize_t n = ::recv(connFd_, buffer, sizeof buffer, 0);
            if (n <= 0) {
                std::lock_guard lock(mutex_);
                ::close(connFd_);
                connFd_ = -1;
                endOfStream_ = n == 0;
                changed_.notify_all();
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            while (pending.size() >= 9) {
                const std::string frame = pending.substr(0, 9);
                pending.erase(0, 9);
                int index;
                {
                    std::lock_guard lock(mutex_);
                    frames_.push_back({frame, std::chrono::steady_clock::now()});
                    index = static_cast<int>(frames_.size()) - 1;
                    changed_.notify_all();
                }
                if (answer_) {
                    if (auto bytes = answer_(frame, index))
                        send(*bytes);
                }
            }
        }
    }
}

} // namespace lumacast::test
