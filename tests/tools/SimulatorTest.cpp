#include "Simulator.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lumacast::sim;
using namespace std::chrono_literals;

namespace {

// The simulator on 127.0.0.1 and ephemeral ports, served on a thread of its own.
class RunningSimulator {
public:
    explicit RunningSimulator(SimOptions options)
    {
        options.bind = "127.0.0.1";
        options.port = 0;
        options.discoveryPort = 0;
        simulator_ = std::make_unique<Simulator>(options, [this](const std::string &line) {
            std::lock_guard lock(mutex_);
            log_.push_back(line);
        });
        simulator_->Open();
        thread_ = std::thread([this] { simulator_->Run(); });
    }
    ~RunningSimulator()
    {
        simulator_->Stop();
        thread_.join();
    }
    Simulator &operator*() { return *simulator_; }
    Simulator *operator->() { return simulator_.get(); }

    bool logHas(const std::string &text) const
    {
        std::lock_guard lock(mutex_);
        for (const auto &line : log_)
            if (line.find(text) != std::string::npos)
                return true;
        return false;
    }

private:
    std::unique_ptr<Simulator> simulator_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> log_;
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
    explicit Client(std::uint16_t port)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto address = Loopback(port);
        if (::connect(fd_, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0)
            ADD_FAILURE() << "cannot connect: " << errno;
    }
    ~Client() { ::close(fd_); }

    void send(const std::string &bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Reads until `count` bytes have come or `limit` has passed.
    std::string read(std::size_t count, std::chrono::milliseconds limit)
    {
        std::string got;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left <= 0ms)
                break;
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                break;
            char buffer[256];
            const ssize_t n = ::recv(fd_, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0)
                break;
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got;
    }

    // "open": nothing arrives within `limit`; "eof" or "reset": how the device ended it.
    std::string endState(std::chrono::milliseconds limit)
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
};

// ---- exchanges: frames in, replies out, and how the connection ends

struct ExchangeCase : lumacast::test::Row {
    std::function<void(SimOptions &)> configure;
    std::vector<std::string> sent; // one write each; the replies to each are read before the next
    std::vector<std::string> replies; // what comes back for each write
    std::string end; // "open", "eof" or "reset"
};

class SimulatorExchange : public testing::TestWithParam<ExchangeCase> { };

TEST_P(SimulatorExchange, Answers)
{
    const auto &c = GetParam();
    SimOptions options;
    options.warmUp = 60s;
    if (c.configure)
        c.configure(options);
    RunningSimulator sim(options);
    Client client(sim->ControlPort());
    ASSERT_EQ(c.sent.size(), c.replies.size());
    for (std::size_t i = 0; i < c.sent.size(); ++i) {
        client.send(c.sent[i]);
        // A silent answer is checked by waiting a little for bytes that must not come.
        const auto limit = c.replies[i].empty() ? 300ms : 3000ms;
        EXPECT_EQ(client.read(std::max<std::size_t>(c.replies[i].size(), 1), limit), c.replies[i])
            << "write " << i;
    }
    EXPECT_EQ(client.endState(c.end == "open" ? 300ms : 3000ms), c.end);
}

const std::string Poll = "@C1     \r";

INSTANTIATE_TEST_SUITE_P(
    Loopback, SimulatorExchange,
    testing::Values(
        ExchangeCase{"PollAndCommands",
                     {},
                     {Poll, "@C11  3 \r", Poll},
                     {"@c1000100000", "@c1200300000", "@c1200300000"},
                     "open"},
        ExchangeCase{
            "WarmUpOver", [](SimOptions &o) { o.warmUp = 0ms; }, {"@C111   \r"}, {"@c1110100000"}, "open"},
        ExchangeCase{"TwoFramesInOneWrite", {}, {Poll + "@C1 1   \r"}, {"@c1000100000@c1010100000"}, "open"},
        ExchangeCase{
            "GarbageIsSkipped", {}, {std::string("zz\xff\0@C1@C1 1   \r", 16)}, {"@c1010100000"}, "open"},
        ExchangeCase{"GarbageAloneGetsNoAnswer", {}, {"hello\r\n"}, {""}, "open"},
        ExchangeCase{"Silent", [](SimOptions &o) { o.silent = true; }, {Poll}, {""}, "open"},
        ExchangeCase{
            "BadHeader", [](SimOptions &o) { o.fault.badHeader = true; }, {Poll}, {"@C1000100000"}, "open"},
        ExchangeCase{
            "BadLength", [](SimOptions &o) { o.fault.length = 13; }, {Poll}, {"@c10001000000"}, "open"},
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
                         o.delay = 300ms;
                     },
                     {Poll + Poll},
                     {"@c1000100000"},
                     "eof"}),
    lumacast::test::RowName());

// ---- timing faults

TEST(SimulatorTiming, DelayedReplyComesLate)
{
    SimOptions options;
    options.delay = 250ms;
    RunningSimulator sim(options);
    Client client(sim->ControlPort());
    const auto sent = std::chrono::steady_clock::now();
    client.send(Poll);
    EXPECT_EQ(client.read(12, 3s), "@c1000100000");
    EXPECT_GE(std::chrono::steady_clock::now() - sent, 240ms);
}

TEST(SimulatorTiming, SplitReplyComesInTwoParts)
{
    SimOptions options;
    options.split = true;
    options.splitGap = 300ms;
    RunningSimulator sim(options);
    Client client(sim->ControlPort());
    client.send(Poll);
    EXPECT_EQ(client.read(12, 150ms), "@c1000");
    EXPECT_EQ(client.read(12, 3s), "100000");
}

// ---- connections, discovery and the log

TEST(Simulator, NewConnectionReplacesTheCurrentOne)
{
    RunningSimulator sim(SimOptions{});
    Client first(sim->ControlPort());
    first.send(Poll);
    ASSERT_EQ(first.read(12, 3s).size(), 12u);
    Client second(sim->ControlPort());
    EXPECT_EQ(first.endState(3s), "eof");
    second.send(Poll);
    EXPECT_EQ(second.read(12, 3s), "@c1000100000");
}

TEST(Simulator, StateOutlivesTheConnection)
{
    RunningSimulator sim(SimOptions{});
    {
        Client client(sim->ControlPort());
        client.send("@C1 115 \r");
        ASSERT_EQ(client.read(12, 3s), "@c1011500000");
    }
    Client client(sim->ControlPort());
    client.send(Poll);
    EXPECT_EQ(client.read(12, 3s), "@c1011500000");
}

TEST(Simulator, AnswersEveryDiscoveryDatagramToItsSender)
{
    RunningSimulator sim(SimOptions{});
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const auto to = Loopback(sim->DiscoveryPort());
    for (const std::string &datagram : {DiscoveryRequest(), std::string("x")}) {
        ::sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
        pollfd p{fd, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 3000), 1);
        char buffer[64];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0))), "RK-DX420");
    }
    ::close(fd);
    EXPECT_TRUE(sim.logHas("(request) 56 4f 52 4e"));
    EXPECT_TRUE(sim.logHas("(other) 78"));
}

TEST(Simulator, NoDiscoveryOpensNoUdpSocketAndRefuseNoControlPort)
{
    SimOptions options;
    options.noDiscovery = true;
    options.refuse = true;
    RunningSimulator sim(options);
    EXPECT_EQ(sim->DiscoveryPort(), 0);
    EXPECT_EQ(sim->ControlPort(), 0);
}

TEST(Simulator, LogsFramesAndRepliesInHex)
{
    RunningSimulator sim(SimOptions{});
    Client client(sim->ControlPort());
    client.send("xy@C11  3 \r");
    ASSERT_EQ(client.read(12, 3s).size(), 12u);
    EXPECT_TRUE(sim.logHas(" garbage 78 79"));
    EXPECT_TRUE(sim.logHas(" frame 40 43 31 31 20 20 33 20 0d"));
    EXPECT_TRUE(sim.logHas(" reply 40 63 31 32 30 30 33 30 30 30 30 30"));
}

TEST(Simulator, OpenFailsOnAPortInUse)
{
    RunningSimulator first(SimOptions{});
    SimOptions options;
    options.bind = "127.0.0.1";
    options.port = first->ControlPort();
    options.noDiscovery = true;
    Simulator second(options, {});
    EXPECT_THROW(second.Open(), std::runtime_error);
}

} // namespace
