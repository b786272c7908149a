#include "ctl/Targets.h"
#include "ctl/Find.h"
#include "platform/AbortSignal.h"
#include "platform/UdpSocket.h"
#include "support/Device.h"
#include "support/Rows.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <system_error>
#include <thread>

using namespace lumacast;
using namespace lumacast::ctl;
using namespace std::chrono_literals;

namespace {

struct Case : test::Row {
    sim::SimOptions device;
    PendingCommands pending;
    int waitMs; // -1: no wait
    const char *error; // "" when the target answers
    std::string status; // the four characters the result carries; "" for none
    std::vector<std::string> frames; // at least these, first
};

class TargetExchange : public testing::TestWithParam<Case> { };

sim::SimOptions With(void (*change)(sim::SimOptions &))
{
    sim::SimOptions options;
    change(options);
    return options;
}

TEST_P(TargetExchange, OneDeviceOnLoopback)
{
    const Case &c = GetParam();
    test::Device device(c.device);
    Exchange exchange;
    exchange.port = device.Port();
    exchange.pending = c.pending;
    if (c.waitMs >= 0) {
        exchange.wait = std::chrono::milliseconds(c.waitMs);
        exchange.reached = GoalOf(c.pending);
    }
    AbortSignal stop;
    const auto results = RunTargets({"127.0.0.1"}, exchange, stop);
    ASSERT_EQ(results.size(), 1u);
    const TargetResult &r = results[0];
    EXPECT_EQ(r.address, "127.0.0.1");
    EXPECT_NE(r.error.find(c.error), std::string::npos) << r.error;
    EXPECT_EQ(r.Ok(), *c.error == '\0') << r.error;
    const std::string status =
        r.status ? std::string{r.status->power, r.status->lamp, r.status->mute, r.status->input} : "";
    EXPECT_EQ(status, c.status);
    const auto record = device.Record();
    ASSERT_GE(record.frames.size(), c.frames.size());
    for (std::size_t i = 0; i < c.frames.size(); ++i)
        EXPECT_EQ(record.frames[i].bytes, c.frames[i]) << "frame " << i;
    // Every connection ends in order, never by a reset.
    if (record.connections > 0 && c.device.closeAfter == 0) {
        EXPECT_TRUE(
            test::WaitUntil([&] { return device.Record().endsOfStream == 1; }, 2s, test::Serving::Nothing));
    }
    EXPECT_EQ(device.Record().resets, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, TargetExchange,
    testing::Values(Case{{"StatusIsOneIdleFrame"}, {}, {}, -1, "", "0001", {"@C1     \r"}},
                    Case{{"Refused"},
                         With([](sim::SimOptions &o) { o.refuse = true; }),
                         {},
                         -1,
                         "connection refused",
                         "",
                         {}},
                    Case{{"BadHeaderRejected"},
                         With([](sim::SimOptions &o) { o.fault.badHeader = true; }),
                         {},
                         -1,
                         "rejected reply \"@C1000100000\"",
                         "",
                         {"@C1     \r"}},
                    Case{{"CommandThenItsState"}, {}, {0, 0, 0, '4'}, -1, "", "0004", {"@C1   4 \r"}},
                    // Changing is on the way: the wait goes on through the warm-up with idle frames.
                    Case{{"PowerOnWaitsThroughTheWarmUp"},
                         With([](sim::SimOptions &o) { o.warmUp = sim::Millis(400); }),
                         {'1', 0, 0, 0},
                         3000,
                         "",
                         "1001",
                         {"@C11    \r", "@C1     \r", "@C1     \r"}},
                    Case{{"WaitRunsOut"},
                         With([](sim::SimOptions &o) { o.warmUp = sim::Millis(5000); }),
                         {'1', 0, 0, 0},
                         700,
                         "did not reach the asked state within 0.7 s",
                         "2001",
                         {"@C11    \r"}},
                    Case{{"ClosedAfterTheFirstReply"},
                         With([](sim::SimOptions &o) { o.closeAfter = 1; }),
                         {'1', 0, 0, 0},
                         3000,
                         "the device closed the connection",
                         "2001",
                         {"@C11    \r"}}),
    test::RowName());

TEST(TargetsTest, StopEndsASilentDeviceAtOnceAndClosesInOrder)
{
    sim::SimOptions options;
    options.silent = true;
    test::Device device(options);
    Exchange exchange;
    exchange.port = device.Port();
    AbortSignal stop;
    std::thread stopper([&] {
        ASSERT_TRUE(
            test::WaitUntil([&] { return device.Record().frames.size() == 1; }, 2s, test::Serving::Nothing));
        stop.Signal();
    });
    const auto start = std::chrono::steady_clock::now();
    const auto results = RunTargets({"127.0.0.1"}, exchange, stop);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);
    for (const auto &r : results)
        EXPECT_EQ(r.error, "interrupted");
    EXPECT_TRUE(
        test::WaitUntil([&] { return device.Record().endsOfStream >= 1; }, 2s, test::Serving::Nothing));
    EXPECT_EQ(device.Record().resets, 0);
}

// A system out of threads gives fewer workers, or none: the targets take
// turns on those there are, and every one is still served.
TEST(TargetsTest, FewerThreadsThanTargetsServeThemAll)
{
    test::Device device;
    Exchange exchange;
    exchange.port = device.Port();
    AbortSignal stop;
    for (const int allowed : {1, 0}) {
        int started = 0;
        const ThreadStarter starter = [&](std::function<void()> work) {
            if (started++ >= allowed)
                throw std::system_error(EAGAIN, std::generic_category());
            return std::thread(std::move(work));
        };
        // One at a time, so the one device serves them all in turn.
        const auto results = RunTargets({"127.0.0.1", "127.0.0.1", "127.0.0.1"}, exchange, stop, starter);
        for (const auto &r : results)
            EXPECT_TRUE(r.Ok() && r.status) << allowed << ": " << r.error;
    }
}

TEST(TargetsTest, ConnectGivesUpAtTheTimeout)
{
    sim::SimOptions options;
    options.stall = true;
    test::Device device(options);
    Exchange exchange;
    exchange.port = device.Port();
    exchange.timeout = 300ms;
    AbortSignal stop;
    const auto start = std::chrono::steady_clock::now();
    const auto results = RunTargets({"127.0.0.1"}, exchange, stop);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(results.at(0).error, "no connection within 0.3 s");
}

TEST(TargetsTest, DiscoveryOnAHeldPortSaysSoAndSendsNothing)
{
    UdpSocket holder(IpFamily::IPv4);
    holder.Bind(0);
    AbortSignal stop;
    const auto start = std::chrono::steady_clock::now();
    const Found found = Discover(holder.LocalPort(), 9, 1500ms, stop);
    EXPECT_TRUE(found.portHeld);
    EXPECT_TRUE(found.senders.empty());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

} // namespace
