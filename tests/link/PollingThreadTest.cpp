#include "link/PollingThread.h"
#include "platform/HandOff.h"
#include "support/Device.h"
#include "support/Rows.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>

using namespace lumacast;
using namespace std::chrono_literals;
using test::Device;
using test::WaitUntil;

namespace {

struct RecordingWindow : PollerWindow {
    std::vector<QString> connectedTo;
    std::vector<DeviceStatusChars> shown;
    PendingCommands pending;
    int builds = 0;
    int throwOnBuild = -1; // index of the BuildCommand that fails

    void ShowConnectedTo(const QString &address) override { connectedTo.push_back(address); }
    PendingCommands &Pending() override
    {
        if (builds++ == throwOnBuild)
            throw std::runtime_error("window gone");
        return pending;
    }
    void ShowDeviceStatus(const DeviceStatusChars &status) override { shown.push_back(status); }
};

// Starts a poller the way the window does and serves its hand-offs.
struct PollerRun {
    RecordingWindow window;
    std::shared_ptr<HandOffQueue> handOffs = HandOffQueue::Make();
    bool ended = false;
    TPollingThread *poller = nullptr;
    std::chrono::steady_clock::time_point endedAt;

    void Start(std::uint16_t port, const QString &ip = "127.0.0.1", TickSource ticks = TickCount)
    {
        poller = new TPollingThread(ip, port, window, handOffs, std::move(ticks));
        poller->SetEndNotification([this](WorkerThread *) {
            ended = true;
            endedAt = std::chrono::steady_clock::now();
            poller = nullptr;
        });
        poller->SetReleaseOnEnd(true);
        poller->Start();
    }

    bool WaitEnded(std::chrono::milliseconds limit = 5s)
    {
        return WaitUntil([this] { return ended; }, limit);
    }

    void Stop()
    {
        if (poller)
            poller->RequestStop();
        ASSERT_TRUE(WaitEnded());
        handOffs->WaitForAllEnded();
    }
};

// The link's own timings, so a changed constant changes the bounds with it.
constexpr std::chrono::milliseconds Pause(IterationPauseMs);

std::size_t FramesAt(const Device &device)
{
    return device.Record().frames.size();
}

TEST(PollingThread, FirstFrameCarriesSpacesAndConnectionIsShown)
{
    Device device;
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 2; }));
    EXPECT_EQ(device.Record().frames[0].bytes, "@C1     \r");
    EXPECT_EQ(run.window.connectedTo, std::vector<QString>{"127.0.0.1"});
    run.Stop();
}

TEST(PollingThread, CommandRidesExactlyOneFrameAndTheAcceptedReplyIsShownEveryThreePauses)
{
    Device device;
    PollerRun run;
    run.window.pending = {'1', '0', '1', '3'};
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 4; }));
    const auto frames = device.Record().frames;
    EXPECT_EQ(frames[0].bytes, "@C11013 \r");
    EXPECT_EQ(frames[1].bytes, "@C1     \r");
    EXPECT_EQ(frames[2].bytes, "@C1     \r");
    // The device warms up after power on and reports the rest as set.
    ASSERT_FALSE(run.window.shown.empty());
    EXPECT_EQ(run.window.shown[0], (DeviceStatusChars{'2', '0', '1', '3'}));
    EXPECT_EQ(DeviceStatus, (DeviceStatusChars{'2', '0', '1', '3'}));
    const auto period = frames[3].at - frames[2].at;
    // The pause after the send, and two after the taken reply; generous above,
    // so that a loaded machine does not fail it.
    EXPECT_GE(period, ResponsiveCycle - 20ms);
    EXPECT_LT(period, 15 * Pause);
    run.Stop();
}

struct RejectRow : test::Row {
    sim::SimOptions device;
};

class RejectedReplyTest : public testing::TestWithParam<RejectRow> { };

TEST_P(RejectedReplyTest, IsDroppedAndTheNextFrameFollows)
{
    Device device(GetParam().device);
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 3; }));
    EXPECT_TRUE(run.window.shown.empty());
    run.Stop();
}

INSTANTIATE_TEST_SUITE_P(Table, RejectedReplyTest,
                         testing::Values(
                             // Each part is taken at a look of its own.
                             RejectRow{"InTwoParts", {.split = true, .splitGap = 150ms}},
                             // Two replies' worth at one look, as a late reply joins the next one.
                             RejectRow{"TwoRepliesLong", {.fault = {.length = 2 * 12}}}),
                         test::RowName());

TEST(PollingThread, SilentDeviceGetsAFrameEveryReplyWindowAcrossTheTickWrap)
{
    Device device({.silent = true});
    PollerRun run;
    // The counter wraps about one second into the first reply window.
    const auto base = std::chrono::steady_clock::now();
    TickSource ticks = [base] {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - base)
                .count();
        return static_cast<std::uint32_t>(0xFFFFFFFFu - 1000u + static_cast<std::uint32_t>(ms));
    };
    run.Start(device.Port(), "127.0.0.1", ticks);
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 2; }, 10s));
    const auto frames = device.Record().frames;
    const auto period = frames[1].at - frames[0].at;
    EXPECT_GE(period, SilentCycle - Pause / 2);
    EXPECT_LT(period, SilentCycle + 19 * Pause);
    EXPECT_TRUE(run.window.shown.empty());
    run.Stop();
}

TEST(PollingThread, RefusedConnectionEndsWithoutAnyHandOffStep)
{
    const Device device({.refuse = true});
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(run.WaitEnded(5s));
    EXPECT_TRUE(run.window.connectedTo.empty());
    EXPECT_EQ(run.window.builds, 0);
    run.handOffs->WaitForAllEnded();
}

TEST(PollingThread, TextsThatDoNotReachAnIPv4AddressNeverConnect)
{
    // A device listens on 127.0.0.1, which the IPv4-mapped spellings name.
    const Device device;
    for (const QString ip : {"::1", "1.2.3.4.5", "", "::ffff:127.0.0.1", "::FFFF:7F00:1",
                             "0:0:0:0:0:ffff:127.0.0.1", "::ffff:7f00:0001", "[::ffff:127.0.0.1]"}) {
        PollerRun run;
        run.Start(device.Port(), ip);
        ASSERT_TRUE(run.WaitEnded(10s)) << ip.toStdString();
        EXPECT_TRUE(run.window.connectedTo.empty()) << ip.toStdString();
        run.handOffs->WaitForAllEnded();
    }
    EXPECT_EQ(device.Record().connections, 0);
}

TEST(PollingThread, StreamingDeviceIsRejectedAndTheStopRequestStillEndsTheThread)
{
    const Device device({.stream = true});
    PollerRun run;
    run.Start(device.Port());
    EXPECT_TRUE(WaitUntil([&] { return device.Record().streamed > (1u << 20); }, 10s));
    const auto requested = std::chrono::steady_clock::now();
    run.poller->RequestStop();
    ASSERT_TRUE(run.WaitEnded(5s));
    EXPECT_LT(run.endedAt - requested, 10 * Pause);
    EXPECT_EQ(run.window.connectedTo, std::vector<QString>{"127.0.0.1"});
    EXPECT_TRUE(run.window.shown.empty());
    run.handOffs->WaitForAllEnded();
}

TEST(PollingThread, DottedTextWithLeadingZerosConnects)
{
    const Device device;
    PollerRun run;
    run.Start(device.Port(), "0127.000.000.001");
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 1; }));
    EXPECT_EQ(run.window.connectedTo, std::vector<QString>{"0127.000.000.001"});
    run.Stop();
}

TEST(PollingThread, StopWhileAwaitingClosesPromptly)
{
    const Device device({.silent = true});
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 1; }));
    const auto requested = std::chrono::steady_clock::now();
    run.poller->RequestStop();
    ASSERT_TRUE(run.WaitEnded());
    EXPECT_LT(run.endedAt - requested, 10 * Pause);
    ASSERT_TRUE(WaitUntil([&] { return device.Record().endsOfStream == 1; }, 2s));
    EXPECT_EQ(FramesAt(device), 1u);
    run.handOffs->WaitForAllEnded();
}

class DeviceGoneTest : public testing::TestWithParam<bool> { };

TEST_P(DeviceGoneTest, EndsPromptlyAndLeavesPendingCommandsPending)
{
    // Silent, so the thread is awaiting a reply when the device goes.
    const bool reset = GetParam();
    const Device device({.silent = true, .closeAfter = reset ? 0 : 1, .resetAfter = reset ? 1 : 0});
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return FramesAt(device) >= 1; }));
    run.window.pending.PowerCmd = '1';
    const auto closedAt = std::chrono::steady_clock::now();
    ASSERT_TRUE(run.WaitEnded(5s));
    EXPECT_LT(run.endedAt - closedAt, 10 * Pause);
    EXPECT_EQ(run.window.builds, 1);
    EXPECT_EQ(run.window.pending.PowerCmd, '1');
    run.handOffs->WaitForAllEnded();
}

INSTANTIATE_TEST_SUITE_P(CloseOrReset, DeviceGoneTest, testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Reset" : "Close"; });

TEST(PollingThread, FailingHandOffStepEndsTheThread)
{
    const Device device;
    PollerRun run;
    run.window.throwOnBuild = 1;
    run.Start(device.Port());
    ASSERT_TRUE(run.WaitEnded(5s));
    EXPECT_EQ(FramesAt(device), 1u);
    EXPECT_TRUE(WaitUntil([&] { return device.Record().endsOfStream == 1; }, 2s));
    run.handOffs->WaitForAllEnded();
}

TEST(PollingThread, AbortEndsAConnectAttemptThatWouldHang)
{
    const Device device({.stall = true});
    PollerRun run;
    run.Start(device.Port());
    ASSERT_TRUE(WaitUntil([&] { return test::ConnectPending(device.Port()); }));
    EXPECT_FALSE(run.ended);
    run.poller->RequestStop();
    run.poller->AbortConnect();
    EXPECT_TRUE(run.WaitEnded(2s));
    run.handOffs->WaitForAllEnded();
}

} // namespace
