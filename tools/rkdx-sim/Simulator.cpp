#include "Simulator.h"

#include <arpa/inet.h>
#include <bit>
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

// How long a connection that the peer ended is held, to see whether a reset
// follows its end of stream (a close with unread input resets).
constexpr Millis EndLinger{500};
// What --stream sends at a time.
constexpr std::size_t StreamChunk = 65536;

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

sockaddr_in Address(const std::string &ip, std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    ::inet_pton(AF_INET, ip.c_str(), &address.sin_addr);
    return address;
}

// Binds a new socket of `type` to `bind`:`port` and returns it with the port
// bound; a stream socket listens with `backlog` unless that is negative.
// `shared`: other sockets may be bound to the same port, as the devices of a
// fleet bind the wildcard address beside their own.
int BoundSocket(int type, const std::string &bind, std::uint16_t port, std::uint16_t &bound, int backlog = -1,
                bool shared = false)
{
    const char *kind = type == SOCK_STREAM ? "TCP" : "UDP";
    const std::string where = std::string(kind) + " " + bind + ":" + std::to_string(port);
    const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw SystemFailure(std::string("cannot create a ") + kind + " socket");
    const int on = 1;
    // A restarted simulator must not wait for the old connection's TIME_WAIT.
    if (type == SOCK_STREAM || shared)
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // So that the log tells where each discovery datagram was sent.
    if (type == SOCK_DGRAM)
        ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    sockaddr_in address = Address(bind, port);
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0)) {
        const auto failure = SystemFailure("cannot listen on " + where);
        ::close(fd);
        throw failure;
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    bound = ntohs(address.sin_port);
    return fd;
}

// A connection of our own that the listener never accepts: with a backlog of
// 0 it fills the accept queue, and the system answers no later connect.
int FillAcceptQueue(const std::string &bind, std::uint16_t port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    const sockaddr_in address = Address(bind == "0.0.0.0" ? "127.0.0.1" : bind, port);
    pollfd p{fd, POLLOUT, 0};
    int error = 0;
    socklen_t length = sizeof error;
    if (fd < 0 ||
        (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 &&
         errno != EINPROGRESS) ||
        ::poll(&p, 1, 2000) != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 ||
        error != 0) {
        if (error != 0)
            errno = error;
        const auto failure = SystemFailure("cannot fill the accept queue");
        if (fd >= 0)
            ::close(fd);
        throw failure;
    }
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
    if (thread_.joinable()) {
        Stop();
        thread_.join();
    }
    for (const int fd : fillers_)
        ::close(fd);
    for (const int fd : {connFd_, listenFd_, udpFd_, broadcastFd_, wakeFd_})
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
    const std::string &bind = options_.bind;
    if (options_.refuse) {
        // Bound but not listening: the port stays ours and every connect is refused.
        listenFd_ = BoundSocket(SOCK_STREAM, bind, options_.port, controlPort_);
        Log("refuse tcp " + bind + ":" + std::to_string(controlPort_) + " (--refuse)");
    } else {
        listenFd_ = BoundSocket(SOCK_STREAM, bind, options_.port, controlPort_, options_.stall ? 0 : 4);
        Log("listen tcp " + bind + ":" + std::to_string(controlPort_));
        if (options_.stall) {
            fillers_.push_back(FillAcceptQueue(bind, controlPort_));
            Log("accept queue full (--stall): connects stay pending");
        }
    }
    if (!options_.noDiscovery) {
        const bool shared = options_.answerBroadcasts;
        udpFd_ = BoundSocket(SOCK_DGRAM, bind, options_.discoveryPort, discoveryPort_, -1, shared);
        if (shared && bind != "0.0.0.0") {
            // A broadcast reaches only sockets on the wildcard address; every
            // device of the fleet has one, and the system gives each its copy.
            std::uint16_t same = 0;
            broadcastFd_ = BoundSocket(SOCK_DGRAM, "0.0.0.0", discoveryPort_, same, -1, true);
        }
        Log("listen udp " + bind + ":" + std::to_string(discoveryPort_) +
            (broadcastFd_ >= 0 ? " and broadcasts" : ""));
    } else {
        Log("discovery off (--no-discovery)");
    }
}

void Simulator::Start()
{
    Open();
    thread_ = std::thread([this] {
        try {
            Run();
        } catch (const std::exception &e) {
            const std::lock_guard lock(recordMutex_);
            failure_ = e.what();
        }
        threadEnded_ = true;
    });
}

std::string Simulator::Failure() const
{
    const std::lock_guard lock(recordMutex_);
    return failure_;
}

SimRecord Simulator::Record() const
{
    const std::lock_guard lock(recordMutex_);
    return record_;
}

void Simulator::Stop()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

short Simulator::ConnectionEvents() const
{
    // Errors and hang-ups are reported whatever is asked for.
    if (connFd_ < 0 || endOfStream_ || options_.neverRead)
        return 0;
    if (options_.stream)
        return options_.streamLimit == 0 || streamed_ < options_.streamLimit ? POLLOUT : 0;
    return POLLIN;
}

void Simulator::Run()
{
    const bool accepting = !options_.refuse && !options_.stall;
    for (;;) {
        const std::uint64_t connection = connectionSerial_;
        pollfd fds[5] = {{wakeFd_, POLLIN, 0},
                         {accepting ? listenFd_ : -1, POLLIN, 0},
                         {udpFd_, POLLIN, 0},
                         {connFd_, ConnectionEvents(), 0},
                         {broadcastFd_, POLLIN, 0}};
        int timeout = -1;
        if (!actions_.empty()) {
            const auto wait = actions_.begin()->first - Now();
            timeout = wait.count() <= 0 ? 0 : static_cast<int>(wait.count());
        }
        // A negative descriptor is skipped by poll.
        if (::poll(fds, 5, timeout) < 0 && errno != EINTR)
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
            AnswerDiscovery(udpFd_);
        if (fds[4].revents & POLLIN)
            AnswerDiscovery(broadcastFd_);
        // Only for the connection that was polled: actions and accepts may have replaced it.
        if (connFd_ >= 0 && connection == connectionSerial_ && fds[3].revents != 0)
            Serve(fds[3].revents);
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
    ++connectionSerial_;
    peer_ = AddressText(address);
    cutter_ = FrameCutter();
    framesOnConnection_ = 0;
    closing_ = false;
    streamed_ = 0;
    {
        const std::lock_guard lock(recordMutex_);
        ++record_.connections;
    }
    Log("connect " + peer_);
}

void Simulator::Serve(short revents)
{
    if (!endOfStream_ && !options_.neverRead && !options_.stream) {
        ReadConnection();
        return;
    }
    // Nothing is read here, so only hang-ups and errors tell of the peer.
    if (revents & (POLLHUP | POLLERR)) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(connFd_, SOL_SOCKET, SO_ERROR, &error, &length);
        if (endOfStream_ || error == ECONNRESET) {
            const std::lock_guard lock(recordMutex_);
            ++record_.resets;
        }
        if (endOfStream_) {
            Log("connection " + peer_ + " reset by peer after its end of stream");
            Release();
        } else {
            DropConnection(error == ECONNRESET ? "reset by peer" : "closed by peer");
        }
    } else if (revents & POLLOUT) {
        Stream();
    }
}

void Simulator::ReadConnection()
{
    char buffer[4096];
    const ssize_t n = ::recv(connFd_, buffer, sizeof buffer, 0);
    if (n == 0) {
        EndOfStream();
        return;
    }
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
            return;
        if (errno == ECONNRESET) {
            const std::lock_guard lock(recordMutex_);
            ++record_.resets;
        }
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

void Simulator::EndOfStream()
{
    Log("connection " + peer_ + " closed by peer");
    {
        const std::lock_guard lock(recordMutex_);
        ++record_.endsOfStream;
    }
    endOfStream_ = true;
    closing_ = false;
    actions_.clear();
    actions_.emplace(Now() + EndLinger, Action{ActionKind::Release, {}});
}

void Simulator::Stream()
{
    std::string chunk = device_.Reply(Now());
    chunk.resize(StreamChunk, '@');
    std::size_t size = chunk.size();
    if (options_.streamLimit > 0)
        size = std::min(size, options_.streamLimit - streamed_);
    const ssize_t n = ::send(connFd_, chunk.data(), size, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            DropConnection(std::string("send failed: ") + std::strerror(errno));
        return;
    }
    const std::size_t before = streamed_;
    streamed_ += static_cast<std::size_t>(n);
    {
        const std::lock_guard lock(recordMutex_);
        record_.streamed += static_cast<std::size_t>(n);
    }
    // A line at every power of two MiB, so that a long stream logs little.
    if (options_.streamLimit > 0 && streamed_ >= options_.streamLimit)
        Log("streamed " + std::to_string(streamed_) + " bytes to " + peer_ + "; holding the connection");
    else if (std::bit_width(streamed_ >> 20) > std::bit_width(before >> 20))
        Log("streamed " + std::to_string(streamed_ >> 20) + " MiB to " + peer_);
}

void Simulator::HandleFrame(const std::string &frame)
{
    if (closing_) {
        Log("frame " + Hex(frame) + " (ignored: closing)");
        return;
    }
    const Millis now = Now();
    Log("frame " + Hex(frame));
    {
        const std::lock_guard lock(recordMutex_);
        record_.frames.push_back({frame, std::chrono::steady_clock::now()});
    }
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
        switch (action.kind) {
        case ActionKind::Close:
            DropConnection("closed (--close-after " + std::to_string(options_.closeAfter) + ")");
            break;
        case ActionKind::Reset:
            DropConnection("reset (--reset-after " + std::to_string(options_.resetAfter) + ")", true);
            break;
        case ActionKind::Release:
            Log("connection " + peer_ + " released: no reset followed its end of stream");
            Release();
            break;
        case ActionKind::Send:
            Send(action.bytes);
            break;
        }
    }
}

void Simulator::Send(const std::string &bytes)
{
    // Logged before it goes out, so whoever has read the reply finds it in the log.
    Log("reply " + Hex(bytes));
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(connFd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
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
    if (sent < bytes.size())
        DropConnection(std::string("send failed: ") + std::strerror(errno));
}

void Simulator::DropConnection(const std::string &why, bool reset)
{
    if (connFd_ < 0)
        return;
    if (endOfStream_) {
        // Its end has been told already.
        Release();
        return;
    }
    if (reset) {
        const linger hard{1, 0};
        ::setsockopt(connFd_, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    } else {
        // Unread bytes at close would turn the orderly close into a reset.
        char buffer[4096];
        while (::recv(connFd_, buffer, sizeof buffer, MSG_DONTWAIT) > 0) { }
    }
    Release();
    Log("connection " + peer_ + " " + why);
}

void Simulator::Release()
{
    ::close(connFd_);
    connFd_ = -1;
    actions_.clear();
    closing_ = false;
    endOfStream_ = false;
}

void Simulator::AnswerDiscovery(int fd)
{
    // Read everything queued; each datagram gets its own answer, always from
    // the device's own socket, so that it comes from the device's address.
    for (;;) {
        char buffer[8192];
        sockaddr_in sender{};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))];
        iovec part{buffer, sizeof buffer};
        msghdr message{};
        message.msg_name = &sender;
        message.msg_namelen = sizeof sender;
        message.msg_iov = &part;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        if (n < 0)
            return;
        std::string to;
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_PKTINFO) {
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                char text[INET_ADDRSTRLEN] = {};
                ::inet_ntop(AF_INET, &info.ipi_addr, text, sizeof text);
                to = std::string(" to ") + text;
            }
        }
        const std::string_view datagram(buffer, static_cast<std::size_t>(n));
        const std::string from = AddressText(sender);
        std::string event = "discovery " + from;
        event += to;
        event += IsDiscoveryRequest(datagram) ? " (request) " : " (other) ";
        event += Hex(datagram);
        Log(event);
        const auto &answer = options_.discoveryAnswer;
        if (::sendto(udpFd_, answer.data(), answer.size(), MSG_NOSIGNAL,
                     reinterpret_cast<sockaddr *>(&sender), message.msg_namelen) < 0)
            Log("discovery answer to " + from + " failed: " + std::strerror(errno));
        else
            Log("discovery-answer " + from + " " + Hex(answer));
    }
}

} // namespace lumacast::sim
