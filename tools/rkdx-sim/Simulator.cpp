#include "Simulator.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace lumacast::sim {
namespace {

std::string AddressText(const sockaddr_in &address)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    return std::string(text) + ":" + std::to_string(ntohs(address.sin_port));
}

std::runtime_error SystemFailure(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

// Binds a new socket of `type` to `bind`:`port` and returns it with the port bound.
int BoundSocket(int type, const std::string &bind, std::uint16_t port, std::uint16_t &bound)
{
    const char *kind = type == SOCK_STREAM ? "TCP" : "UDP";
    const std::string where = std::string(kind) + " " + bind + ":" + std::to_string(port);
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw SystemFailure(std::string("cannot create a ") + kind + " socket");
    if (type == SOCK_STREAM) {
        // A restarted simulator must not wait for the old connection's TIME_WAIT.
        const int on = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, bind.c_str(), &address.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
        const auto failure = SystemFailure("cannot listen on " + where);
        ::close(fd);
        throw failure;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    bound = ntohs(address.sin_port);
    return fd;
}

} // namespace

Simulator::Simulator(SimOptions options, LogSink log)
    : options_(std::move(options)), log_(std::move(log)), start_(std::chrono::steady_clock::now()),
      device_(options_.warmUp)
{
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        throw SystemFailure("cannot create an eventfd");
}

Simulator::~Simulator()
{
    for (const int fd : {connFd_, listenFd_, udpFd_, wakeFd_})
        if (fd >= 0)
            ::close(fd);
}

Millis Simulator::Now() const
{
    return std::chrono::duration_cast<Millis>(std::chrono::steady_clock::now() - start_);
}

void Simulator::Log(const std::string &event)
{
    if (log_)
        log_(FormatSeconds(Now()) + " " + event);
}

void Simulator::Open()
{
    if (!options_.refuse) {
        listenFd_ = BoundSocket(SOCK_STREAM, options_.bind, options_.port, controlPort_);
        Log("listen tcp " + options_.bind + ":" + std::to_string(controlPort_));
    } else {
        Log("control port closed (--refuse)");
    }
    if (!options_.noDiscovery) {
        udpFd_ = BoundSocket(SOCK_DGRAM, options_.bind, options_.discoveryPort, discoveryPort_);
        Log("listen udp " + options_.bind + ":" + std::to_string(discoveryPort_));
    } else {
        Log("discovery off (--no-discovery)");
    }
}

void Simulator::Stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

void Simulator::Run()
{
    for (;;) {
        pollfd fds[4] = {
            {wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}, {udpFd_, POLLIN, 0}, {connFd_, POLLIN, 0}};
        int timeout = -1;
        if (!actions_.empty()) {
            const auto wait = actions_.begin()->first - Now();
            timeout = wait.count() <= 0 ? 0 : static_cast<int>(wait.count());
        }
        // A negative descriptor is skipped by poll.
        if (::poll(fds, 4, timeout) < 0 && errno != EINTR)
            throw SystemFailure("poll");
        if (fds[0].revents & POLLIN) {
            Log("stopping");
            DropConnection("closed (stopping)");
            return;
        }
        RunDueActions();
        if (fds[1].revents & POLLIN)
            Accept();
        if (fds[2].revents & POLLIN)
            AnswerDiscovery();
        if (connFd_ >= 0 && connFd_ == fds[3].fd && (fds[3].revents & (POLLIN | POLLHUP | POLLERR)))
            ReadConnection();
    }
}

void Simulator::Accept()
{
    sockaddr_in address{};
    socklen_t length = sizeof address;
    const int fd =
        ::accept4(listenFd_, reinterpret_cast<sockaddr *>(&address), &length, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return; // the peer gave up before we took it, or a transient shortage
    if (connFd_ >= 0)
        DropConnection("closed (replaced by a new connection)");
    connFd_ = fd;
    peer_ = AddressText(address);
    cutter_ = FrameCutter();
    framesOnConnection_ = 0;
    closing_ = false;
    Log("connect " + peer_);
}

void Simulator::ReadConnection()
{
    char buffer[4096];
    const ssize_t n = ::recv(connFd_, buffer, sizeof buffer, 0);
    if (n == 0) {
        DropConnection("closed by peer");
        return;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        DropConnection(errno == ECONNRESET ? "reset by peer"
                                           : std::string("receive failed: ") + std::strerror(errno));
        return;
    }
    for (const auto &piece : cutter_.Feed(std::string_view(buffer, static_cast<std::size_t>(n)))) {
        if (!piece.frame)
            Log("garbage " + Hex(piece.bytes));
        else
            HandleFrame(piece.bytes);
    }
}

void Simulator::HandleFrame(const std::string &frame)
{
    if (closing_) {
        Log("frame " + Hex(frame) + " (ignored: closing)");
        return;
    }
    const Millis now = Now();
    Log("frame " + Hex(frame));
    device_.Apply(frame, now);
    ++framesOnConnection_;

    Millis last = now;
    if (!options_.silent) {
        const std::string reply = DistortReply(device_.Reply(now), options_.fault);
        const Millis due = now + options_.delay;
        if (options_.split) {
            auto [first, second] = SplitReply(reply);
            actions_.emplace(due, Action{ActionKind::Send, std::move(first)});
            last = due + options_.splitGap;
            actions_.emplace(last, Action{ActionKind::Send, std::move(second)});
        } else {
            actions_.emplace(due, Action{ActionKind::Send, reply});
            last = due;
        }
    }
    const bool close = options_.closeAfter > 0 && framesOnConnection_ >= options_.closeAfter;
    const bool reset = options_.resetAfter > 0 && framesOnConnection_ >= options_.resetAfter;
    if (close || reset) {
        closing_ = true;
        actions_.emplace(last, Action{reset ? ActionKind::Reset : ActionKind::Close, {}});
    }
}

void Simulator::RunDueActions()
{
    while (!actions_.empty() && actions_.begin()->first <= Now()) {
        const Action action = std::move(actions_.begin()->second);
        actions_.erase(actions_.begin());
        if (connFd_ < 0)
            continue;
        if (action.kind == ActionKind::Close) {
            DropConnection("closed (--close-after " + std::to_string(options_.closeAfter) + ")");
            continue;
        }
        if (action.kind == ActionKind::Reset) {
            DropConnection("reset (--reset-after " + std::to_string(options_.resetAfter) + ")", true);
            continue;
        }
        // Logged before it goes out, so whoever has read the reply finds it in the log.
        Log("reply " + Hex(action.bytes));
        std::size_t sent = 0;
        while (sent < action.bytes.size()) {
            const ssize_t n =
                ::send(connFd_, action.bytes.data() + sent, action.bytes.size() - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                // A peer that reads nothing fills our buffer; do not block the loop for it.
                pollfd p{connFd_, POLLOUT, 0};
                ::poll(&p, 1, 100);
                if (!(p.revents & POLLOUT))
                    break;
                continue;
            }
            if (n < 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        if (sent < action.bytes.size()) {
            DropConnection(std::string("send failed: ") + std::strerror(errno));
            continue;
        }
    }
}

void Simulator::DropConnection(const std::string &why, bool reset)
{
    if (connFd_ < 0)
        return;
    if (reset) {
        const linger hard{1, 0};
        ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        // Unread bytes at close would turn the orderly close into a reset.
        char buffer[4096];
        while (::recv(connFd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) { }
    }
    ::close(connFd_);
    connFd_ = -1;
    actions_.clear();
    closing_ = false;
    Log("connection " + peer_ + " " + why);
}

void Simulator::AnswerDiscovery()
{
    // Read everything queued; each datagram gets its own answer.
    for (;;) {
        char buffer[8192];
        sockaddr_in sender{};
        socklen_t length = sizeof sender;
        const ssize_t n =
            ::recvfrom(udpFd_, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&sender), &length);
        if (n < 0)
            return;
        const std::string_view datagram(buffer, static_cast<std::size_t>(n));
        const std::string from = AddressText(sender);
        Log("discovery " + from + (IsDiscoveryRequest(datagram) ? " (request) " : " (other) ") +
            Hex(datagram));
        const auto &answer = options_.discoveryAnswer;
        if (::sendto(udpFd_, answer.data(), answer.size(), MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr *>(&sender), length) < 0)
            Log("discovery answer to " + from + " failed: " + std::strerror(errno));
        else
            Log("discovery-answer " + from + " " + Hex(answer));
    }
}

} // namespace lumacast::sim
