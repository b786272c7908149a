#include "link/DeviceSession.h"
#include "link/DeviceExchange.h"
#include "link/Watch.h"
#include "platform/AbortSignal.h"
#include "support/Device.h"
#include "support/Rows.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <thread>

using namespace lumacast;
using namespace std::chrono_literals;

namespace {

// An owner that carries nothing and counts what it is told.
struct Counting : WatchEvents {
    std::atomic<int> connected{0}, accepted{0}, ended{0};
    void Connected() override { ++connected; }
    std::string NextCommandField() override { return "     "; }
    void StateAccepted(const DeviceState &) override { ++accepted; }
    void Ended(const SessionEnd &, std::optional<std::chrono::milliseconds>) override { ++ended; }
};

sim::SimOptions With(void (*change)(sim::SimOptions &))
{
    sim::SimOptions options;
    change(options);
    return options;
}

struct EndCase : test::Row {
    sim::SimOptions device;
    RunMode mode;
    const char *address; // nullptr: the device's
    EndReason reason;
    const char *words;
};

class SessionEnds : public testing::TestWithParam<EndCase> { };

TEST_P(SessionEnds, WithTheirWords)
{
    const EndCase &c = GetParam();
    test::Device device(c.device);
    SessionSettings settings;
    settings.port = device.Port();
    Counting events;
    AbortSignal stop;
    DeviceSession session(AddressText(c.address ? c.address : "127.0.0.1"), settings, events, stop, &stop);
    const SessionEnd end = session.Run(c.mode);
    EXPECT_EQ(end.reason, c.reason);
    EXPECT_EQ(EndWords(end), c.words);
    EXPECT_EQ(device.Record().resets, 0) << "every connection closes in order";
}

const auto Forever = RunMode::Forever();
const auto Once = RunMode::Once();
const auto AnyState = [](const DeviceState &) { return false; };

INSTANTIATE_TEST_SUITE_P(
    Table, SessionEnds,
    testing::Values(EndCase{{"OneFrameAnswered"}, {}, Once, nullptr, EndReason::Answered, ""},
                    EndCase{{"Refused"},
                            With([](sim::SimOptions &o) { o.refuse = true; }),
                            Forever,
                            nullptr,
                            EndReason::Refused,
                            "connection refused"},
                    EndCase{{"IPv6Text"},
                            {},
                            Forever,
                            "::1",
                            EndReason::NotAnAddress,
                            "an IPv6 address never connects: give an IPv4 address"},
                    EndCase{{"ClosedByTheDevice"},
                            With([](sim::SimOptions &o) { o.closeAfter = 2; }),
                            Forever,
                            nullptr,
                            EndReason::ClosedByDevice,
                            "the device closed the connection"},
                    EndCase{{"ResetByTheDevice"},
                            With([](sim::SimOptions &o) { o.resetAfter = 2; }),
                            Forever,
                            nullptr,
                            EndReason::ResetByDevice,
                            "the device reset the connection"},
                    EndCase{{"Silent"},
                            With([](sim::SimOptions &o) { o.silent = true; }),
                            Once,
                            nullptr,
                            EndReason::ReplyLapsed,
                            "no reply within 3 s"},
                    EndCase{{"GarbageUntilTheWaitEnds"},
                            With([](sim::SimOptions &o) { o.fault.badHeader = true; }),
                            RunMode::Until(700ms, AnyState),
                            nullptr,
                            EndReason::NoStatusReply,
                            "replies came, but none was a status reply within 0.7 s"},
                    EndCase{{"StreamUntilTheWaitEnds"},
                            With([](sim::SimOptions &o) { o.stream = true; }),
                            RunMode::Until(700ms, AnyState),
                            nullptr,
                            EndReason::NoStatusReply,
                            "replies came, but none was a status reply within 0.7 s"},
                    EndCase{{"StatesButNotTheAskedOne"},
                            {},
                            RunMode::Until(700ms, AnyState),
                            nullptr,
                            EndReason::GoalNotReached,
                            "did not reach the asked state within 0.7 s"}),
    test::RowName());

// The ends no simulated device gives, worded alike for every front end.
TEST(SessionEnd, WordsOfTheSystemsEnds)
{
    const struct {
        SessionEnd end;
        const char *words;
    } cases[] = {
        {{EndReason::Stopped}, "interrupted"},
        {{EndReason::NotAnAddress, EINVAL}, "not a host name"},
        {{EndReason::HostNotFound, EHOSTUNREACH}, "cannot resolve the host name"},
        {{EndReason::LookupTimedOut, ETIMEDOUT, 5000ms}, "the host name was not resolved within 5 s"},
        {{EndReason::ConnectTimedOut, ETIMEDOUT, 2500ms}, "no connection within 2.5 s"},
        {{EndReason::Unreachable, ENETUNREACH}, "cannot connect: network is unreachable"},
        {{EndReason::NoDescriptor, EMFILE}, "too many open files"},
        {{EndReason::NoThread, EAGAIN}, "cannot start a thread for it: resource temporarily unavailable"},
        {{EndReason::SendFailed, EPIPE}, "connection lost: broken pipe"},
        {{EndReason::Rejected, 0, {}, "@C1\r\n\x01"}, "rejected reply \"@C1\\r\\n?\""},
    };
    for (const auto &c : cases)
        EXPECT_EQ(EndWords(c.end), c.words);
}

struct LapseCase : test::Row {
    bool lookAtLapse;
    EndReason reason;
};

class HeldUp : public testing::TestWithParam<LapseCase> { };

// A process held up past the reply window (stopped, swapped out) finds the
// reply that waits in the socket, where a last look is asked for.
TEST_P(HeldUp, PastTheReplyWindow)
{
    test::Device device;
    SessionSettings settings;
    settings.port = device.Port();
    settings.lookAtLapse = GetParam().lookAtLapse;
    std::atomic<int> reads{0};
    // The send's tick is true; every later one lies past the window.
    settings.ticks = [&reads] { return TickCount() + (reads++ == 0 ? 0u : ReplyWindowMs + 1); };
    Counting events;
    AbortSignal stop;
    DeviceSession session(AddressText("127.0.0.1"), settings, events, stop, &stop);
    EXPECT_EQ(session.Run(RunMode::Once()).reason, GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(Table, HeldUp,
                         testing::Values(LapseCase{{"LastLook"}, true, EndReason::Answered},
                                         LapseCase{{"PanelsWay"}, false, EndReason::ReplyLapsed}),
                         test::RowName());

TEST(DeviceSession, SessionsRunSideBySideAndEachStopsAlone)
{
    test::Device first, second;
    Counting firstEvents, secondEvents;
    AbortSignal stopFirst, stopSecond;
    SessionSettings settings;
    settings.port = first.Port();
    DeviceSession a(AddressText("127.0.0.1"), settings, firstEvents, stopFirst, &stopFirst);
    settings.port = second.Port();
    DeviceSession b(AddressText("127.0.0.1"), settings, secondEvents, stopSecond, &stopSecond);
    SessionEnd endA, endB;
    std::thread runA([&] { endA = KeepWatching(a, firstEvents, stopFirst, false); });
    std::thread runB([&] { endB = KeepWatching(b, secondEvents, stopSecond, false); });
    ASSERT_TRUE(test::WaitUntil([&] { return firstEvents.accepted >= 2 && secondEvents.accepted >= 2; }, 5s,
                                test::Serving::Nothing));
    stopFirst.Signal();
    runA.join();
    const int secondSoFar = secondEvents.accepted;
    ASSERT_TRUE(test::WaitUntil([&] { return secondEvents.accepted >= secondSoFar + 2; }, 5s,
                                test::Serving::Nothing));
    EXPECT_EQ(second.Record().endsOfStream, 0) << "the other session goes on";
    stopSecond.Signal();
    runB.join();
    EXPECT_EQ(endA.reason, EndReason::Stopped);
    EXPECT_EQ(endB.reason, EndReason::Stopped);
    for (const test::Device *device : {&first, &second})
        EXPECT_TRUE(
            test::WaitUntil([&] { return device->Record().endsOfStream == 1; }, 2s, test::Serving::Nothing));
}

TEST(Watch, ALostDeviceIsTriedAgainAfterTheBackoff)
{
    sim::SimOptions options;
    options.closeAfter = 1;
    test::Device device(options);
    SessionSettings settings;
    settings.port = device.Port();
    Counting events;
    AbortSignal stop;
    DeviceSession session(AddressText("127.0.0.1"), settings, events, stop, &stop);
    std::thread watch([&] { KeepWatching(session, events, stop, false, Backoff(1)); });
    // Each connection stood, so each wait is the first one: about a second.
    ASSERT_TRUE(test::WaitUntil([&] { return events.connected >= 2; }, 3s, test::Serving::Nothing));
    stop.Signal();
    watch.join();
    EXPECT_GE(events.ended, 2);
}

TEST(Watch, TheBackoffDoublesUpToItsLongestWithJitter)
{
    Backoff backoff(7);
    const std::chrono::milliseconds::rep base[] = {1000, 2000, 4000, 8000, 16000, 30000, 30000};
    for (const auto want : base) {
        const auto wait = backoff.Next().count();
        EXPECT_GE(wait, want - want / 5);
        EXPECT_LE(wait, want + want / 5);
    }
    backoff.Reset();
    EXPECT_LE(backoff.Next().count(), 1200);
}

} // namespace
