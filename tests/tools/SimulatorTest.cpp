#include "Simulator.h"
#include "discovery/DiscoveryRequest.h"
#include "support/Device.h"
#include "support/Rows.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

using namespace lumacast::sim;
using namespace std::chrono_literals;
using lumacast::test::WaitUntil;

namespace {

// The simulator on 127.0.0.1 and ephemeral ports, discovery included, with its log.
class LoggedSimulator {
public:
    explicit LoggedSimulator(SimOptions options = {})
    {
        options.bind = "127.0.0.1";
        options.port = 0;
        options.discoveryPort = 0;
        simulator_ = std::make_unique<Simulator>(options, [this](const std::string &line) {
            const std::lock_guard lock(mutex_);
            log_.push_back(line);
        });
        simulator_->Start();
    }
    Simulator *operator->() { return simulator_.get(); }

    bool LogHas(const std::string &text) const
    {
        const std::lock_guard lock(mutex_);
        for (const auto &line : log_)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

    // Stops it and waits until it has ended every connection.
    void Stop()
    {
        simulator_->Stop();
        ASSERT_TRUE(WaitUntil([this] { return simulator_->Ended(); }));
    }

private:
    // The log outlives the simulator, which logs while it stops.
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
    std::unique_ptr<Simulator> simulator_;
};

sockaddr_in Loopback(std::uint16_t port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

class Client {
public:
    // With `wait` false the connect is only begun.
    explicit Client(std::uint16_t port, bool wait = true)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
        const auto address = Loopback(port);
        connected_ = ::connect(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
        error_ = connected_ ? 0 : errno;
    }
    ~Client() { ::close(fd_); }

    bool Connected() const { return connected_; }
    int Error() const { return error_; }
    int Fd() const { return fd_; }

    void Send(const std::string &bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Reads until `count` bytes have come, the device has ended the
    // connection or `limit` has passed.
    std::string Read(std::size_t count, std::chrono::milliseconds limit = 3s)
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd p{fd_, POLLIN, 0};
            if (left <= 0ms || ::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[4096];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // How the device ended the connection: "eof" or "reset" ("open" when it
    // has not within `limit`, "data" when bytes came instead).
    std::string EndState(std::chrono::milliseconds limit = 3s)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(limit.count())) == 0)
            return "open";
        char byte;
        const ssize_t n = ::recv(fd_, &byte, 1, 0);
        if (n == 0)
            return "eof";
        if (n < 0 && errno == ECONNRESET)
            return "reset";
        return n > 0 ? "data" : "error";
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    int error_ = 0;
};

std::size_t FramesAt(LoggedSimulator &sim)
{
    return sim->Record().frames.size();
}

// ---- exchanges: frames in, replies out, and how the connection ends

struct ExchangeCase : lumacast::test::Row {
    std::function<void(SimOptions &)> configure;
    std::vector<std::string> sent; // one write each; the replies to each are read before the next
    std::vector<std::string> replies; // what comes back for each write
    std::string end; // "eof" or "reset"; else the connection stays open and this is
                     // what the device sends before its own end, a last poll answered
};

class SimulatorExchange : public testing::TestWithParam<ExchangeCase> { };

const std::string Poll = "@C1     \r";

TEST_P(SimulatorExchange, Answers)
{
    const auto &c = GetParam();
    SimOptions options;
    options.warmUp = 60s;
    if (c.configure)
        c.configure(options);
    LoggedSimulator sim(options);
    Client client(sim->ControlPort());
    ASSERT_EQ(c.sent.size(), c.replies.size());
    for (std::size_t i = 0; i < c.sent.size(); ++i) {
        client.Send(c.sent[i]);
        if (!c.replies[i].empty()) {
            EXPECT_EQ(client.Read(c.replies[i].size()), c.replies[i]) << "write " << i;
        }
    }
    if (c.end == "eof" || c.end == "reset") {
        EXPECT_EQ(client.EndState(), c.end);
        return;
    }
    // A last poll reaches the device: the connection is open. Once the device
    // has ended, everything it sent is here, and nothing may come unasked.
    FrameCutter cutter;
    std::size_t frames = 1;
    for (const auto &bytes : c.sent)
        for (const auto &piece : cutter.Feed(bytes))
            frames += piece.frame ? 1 : 0;
    client.Send(Poll);
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(sim) == frames; }));
    // The last poll's reply is sent after its frame is counted: take it
    // before the stop, which would drop it.
    std::string got = client.Read(c.end.size());
    sim.Stop();
    got += client.Read(SIZE_MAX);
    EXPECT_EQ(got, c.end);
}

INSTANTIATE_TEST_SUITE_P(
    Loopback, SimulatorExchange,
    testing::Values(
        ExchangeCase{"PollAndCommands",
                     {},
                     {Poll, "@C11  3 \r", Poll},
                     {"@c1000100000", "@c1200300000", "@c1200300000"},
                     "@c1200300000"},
        ExchangeCase{"WarmUpOver",
                     [](SimOptions &o) { o.warmUp = 0ms; },
                     {"@C111   \r"},
                     {"@c1110100000"},
                     "@c1110100000"},
        ExchangeCase{
            "TwoFramesInOneWrite", {}, {Poll + "@C1 1   \r"}, {"@c1000100000@c1010100000"}, "@c1010100000"},
        ExchangeCase{"GarbageIsSkipped",
                     {},
                     {std::string("zz\xff\0@C1@C1 1   \r", 16)},
                     {"@c1010100000"},
                     "@c1010100000"},
        ExchangeCase{"GarbageAloneGetsNoAnswer", {}, {"hello\r\n"}, {""}, "@c1000100000"},
        ExchangeCase{"Silent", [](SimOptions &o) { o.silent = true; }, {Poll}, {""}, ""},
        ExchangeCase{"BadHeader",
                     [](SimOptions &o) { o.fault.badHeader = true; },
                     {Poll},
                     {"@C1000100000"},
                     "@C1000100000"},
        ExchangeCase{"BadLength",
                     [](SimOptions &o) { o.fault.length = 13; },
                     {Poll},
                     {"@c10001000000"},
                     "@c10001000000"},
        ExchangeCase{"CloseAfterTwo",
                     [](SimOptions &o) { o.closeAfter = 2; },
                     {Poll, Poll},
                     {"@c1000100000", "@c1000100000"},
                     "eof"},
        ExchangeCase{"SilentCloseAfterOne",
                     [](SimOptions &o) {
                         o.silent = true;
                         o.closeAfter = 1;
                     },
                     {Poll},
                     {""},
                     "eof"},
        ExchangeCase{
            "ResetAfterOne", [](SimOptions &o) { o.resetAfter = 1; }, {Poll}, {"@c1000100000"}, "reset"},
        ExchangeCase{"FramesAfterTheCloseAreNotAnswered",
                     [](SimOptions &o) {
                         o.closeAfter = 1;
                         o.delay = 100ms;
                     },
                     {Poll + Poll},
                     {"@c1000100000"},
                     "eof"}),
    lumacast::test::RowName());

// ---- timing faults

TEST(SimulatorTiming, DelayedAndSplitRepliesComeLate)
{
    for (const bool split : {false, true}) {
        SimOptions options;
        options.delay = 150ms;
        options.split = split;
        options.splitGap = 200ms;
        LoggedSimulator sim(options);
        Client client(sim->ControlPort());
        const auto sent = std::chrono::steady_clock::now();
        client.Send(Poll);
        EXPECT_EQ(client.Read(split ? 6 : 12), split ? "@c1000" : "@c1000100000");
        EXPECT_GE(std::chrono::steady_clock::now() - sent, 140ms) << split;
        if (split) {
            EXPECT_EQ(client.Read(6), "100000");
            EXPECT_GE(std::chrono::steady_clock::now() - sent, 340ms);
        }
    }
}

// ---- how the control port treats a connection

TEST(SimulatorPort, RefuseRefusesAndStallLeavesTheConnectPending)
{
    LoggedSimulator refusing({.refuse = true, .noDiscovery = true});
    EXPECT_EQ(refusing->DiscoveryPort(), 0);
    ASSERT_NE(refusing->ControlPort(), 0);
    const Client refused(refusing->ControlPort());
    EXPECT_FALSE(refused.Connected());
    EXPECT_EQ(refused.Error(), ECONNREFUSED);

    LoggedSimulator stalled({.stall = true});
    const Client pending(stalled->ControlPort(), false);
    EXPECT_EQ(pending.Error(), EINPROGRESS);
    EXPECT_TRUE(WaitUntil([&] { return lumacast::test::ConnectPending(stalled->ControlPort()); }));
    EXPECT_EQ(stalled->Record().connections, 0);
}

TEST(SimulatorPort, NeverReadTakesNothingAndSendsNothing)
{
    LoggedSimulator sim({.neverRead = true});
    Client client(sim->ControlPort());
    ASSERT_TRUE(WaitUntil([&] { return sim->Record().connections == 1; }));
    // The buffers between fill up, as nothing is read: a send no longer goes.
    ::fcntl(client.Fd(), F_SETFL, O_NONBLOCK);
    const std::string chunk(65536, 'x');
    std::size_t sent = 0;
    while (sent < (64u << 20) && ::send(client.Fd(), chunk.data(), chunk.size(), MSG_NOSIGNAL) > 0)
        sent += chunk.size();
    EXPECT_EQ(errno, EAGAIN) << sent << " bytes taken";
    sim.Stop();
    EXPECT_EQ(client.EndState(), "eof");
    EXPECT_TRUE(sim->Record().frames.empty());
}

TEST(SimulatorPort, StreamSendsRepliesPaddedWithoutPauseUpToItsLimit)
{
    constexpr std::size_t Limit = 3 << 19; // 1.5 MiB
    LoggedSimulator sim({.stream = true, .streamLimit = Limit});
    Client client(sim->ControlPort());
    const std::string got = client.Read(Limit);
    ASSERT_EQ(got.size(), Limit);
    EXPECT_EQ(got.substr(0, 13), "@c1000100000@");
    EXPECT_EQ(got.substr(65536, 12), "@c1000100000");
    ASSERT_TRUE(WaitUntil([&] { return sim.LogHas("bytes to 127.0.0.1"); }));
    EXPECT_TRUE(sim.LogHas(" streamed 1 MiB to 127.0.0.1"));
    EXPECT_TRUE(sim.LogHas(" streamed 1572864 bytes to 127.0.0.1"));
    EXPECT_EQ(sim->Record().streamed, Limit);
    sim.Stop();
    EXPECT_EQ(client.EndState(), "eof") << "nothing after the limit";
}

// ---- connections, their ends, discovery and the log

TEST(Simulator, NewConnectionReplacesTheCurrentOneAndTheStateOutlivesIt)
{
    LoggedSimulator sim;
    Client first(sim->ControlPort());
    first.Send("@C1 115 \r");
    ASSERT_EQ(first.Read(12), "@c1011500000");
    Client second(sim->ControlPort());
    EXPECT_EQ(first.EndState(), "eof");
    second.Send(Poll);
    EXPECT_EQ(second.Read(12), "@c1011500000");
    const auto record = sim->Record();
    EXPECT_EQ(record.connections, 2);
    ASSERT_EQ(record.frames.size(), 2u);
    EXPECT_EQ(record.frames[1].bytes, Poll);
    EXPECT_LE(record.frames[0].at, record.frames[1].at);
}

TEST(Simulator, TellsAnOrderlyEndFromAResetAfterIt)
{
    for (const bool reset : {false, true}) {
        LoggedSimulator sim;
        auto client = std::make_unique<Client>(sim->ControlPort());
        client->Send(Poll);
        pollfd p{client->Fd(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1);
        if (!reset) {
            ASSERT_EQ(client->Read(12), "@c1000100000");
        }
        ::shutdown(client->Fd(), SHUT_WR);
        ASSERT_TRUE(WaitUntil([&] { return sim->Record().endsOfStream == 1; }));
        if (reset) {
            client.reset(); // the reply unread: the close resets
            ASSERT_TRUE(WaitUntil([&] { return sim->Record().resets == 1; }));
            // The count is taken before the line is logged.
            EXPECT_TRUE(WaitUntil([&] { return sim.LogHas("reset by peer after its end of stream"); }));
        } else {
            // The device lets go once it has seen no reset follow.
            EXPECT_EQ(client->EndState(), "eof");
            EXPECT_TRUE(sim.LogHas("released: no reset followed its end of stream"));
            EXPECT_EQ(sim->Record().resets, 0);
        }
    }
}

TEST(Simulator, AnswersEveryDiscoveryDatagramToItsSender)
{
    LoggedSimulator sim;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto to = Loopback(sim->DiscoveryPort());
    for (const std::string &datagram : {lumacast::DiscoveryRequest(), std::string("x")}) {
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1);
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "RK-DX420");
    }
    ::close(fd);
    EXPECT_TRUE(sim.LogHas("(request) 56 4f 52 4e"));
    EXPECT_TRUE(sim.LogHas("(other) 78"));
}

TEST(Simulator, DevicesOfAFleetAnswerABroadcastEachFromItsOwnAddress)
{
    // Two devices on addresses of the loopback network; its broadcast address
    // never leaves the machine.
    std::vector<std::string> log;
    std::mutex mutex;
    auto sink = [&](const std::string &line) {
        const std::lock_guard lock(mutex);
        log.push_back(line);
    };
    SimOptions options;
    options.port = 0;
    options.discoveryPort = 0;
    options.answerBroadcasts = true;
    options.bind = "127.0.0.2";
    Simulator first(options, sink);
    first.Start();
    options.bind = "127.0.0.3";
    options.discoveryPort = first.DiscoveryPort();
    Simulator second(options, sink);
    second.Start();

    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    auto answersTo = [&](const char *address) {
        sockaddr_in to = Loopback(first.DiscoveryPort());
        ::inet_pton(AF_INET, address, &to.sin_addr);
        const std::string request = lumacast::DiscoveryRequest();
        ::sendto(fd, request.data(), request.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        std::multiset<std::string> senders;
        pollfd p{fd, POLLIN, 0};
        while (::poll(&p, 1, 300) == 1) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            char buffer[64];
            ::recvfrom(fd, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr *>(&from), &length);
            char text[INET_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
            senders.insert(std::string(text) + ":" + std::to_string(ntohs(from.sin_port)));
        }
        return senders;
    };
    const std::string port = ":" + std::to_string(first.DiscoveryPort());
    EXPECT_EQ(answersTo("127.255.255.255"), (std::multiset{"127.0.0.2" + port, "127.0.0.3" + port}));
    EXPECT_EQ(answersTo("127.0.0.3"), std::multiset{"127.0.0.3" + port});
    ::close(fd);
    first.Stop();
    second.Stop();
    ASSERT_TRUE(WaitUntil([&] { return first.Ended() && second.Ended(); }));
    const std::lock_guard lock(mutex);
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string &line) {
                                return line.find(" to 127.255.255.255 (request) 56 4f") != std::string::npos;
                            }),
              2);
}

TEST(Simulator, LogsFramesAndRepliesInHex)
{
    LoggedSimulator sim;
    Client client(sim->ControlPort());
    client.Send("xy@C11  3 \r");
    ASSERT_EQ(client.Read(12).size(), 12u);
    EXPECT_TRUE(sim.LogHas(" garbage 78 79"));
    EXPECT_TRUE(sim.LogHas(" frame 40 43 31 31 20 20 33 20 0d"));
    EXPECT_TRUE(sim.LogHas(" reply 40 63 31 32 30 30 33 30 30 30 30 30"));
}

TEST(Simulator, OpenFailsOnAPortInUse)
{
    LoggedSimulator first;
    SimOptions options;
    options.bind = "127.0.0.1";
    options.port = first->ControlPort();
    options.noDiscovery = true;
    Simulator second(options);
    EXPECT_THROW(second.Open(), std::runtime_error);
}

} // namespace
