#include "link/PollingThread.h"
#include "platform/HandOff.h"
#include "support/FakeDevice.h"
#include "support/LoopbackPorts.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace lumacast;
using namespace std::chrono_literals;
using test::ClosedPort;
using test::FakeDevice;
using test::StalledListener;

namespace {

struct RecordingWindow : PollerWindow {
    std::vector<QString> statusTexts;
    std::vector<DeviceStatusChars> shown;
    PendingCommands pending;
    int builds = 0;
    int throwOnBuild = -1; // index of the BuildCommand that fails

    void SetStatusText(const QString &text) override { statusTexts.push_back(text); }
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
    bool ended = false;
    TPollingThread *poller = nullptr;
    std::chrono::steady_clock::time_point endedAt;

    void start(std::uint16_t port, const QString &ip = "127.0.0.1", TickSource ticks = GetTickCount)
    {
        poller = new TPollingThread(ip, port, window, std::move(ticks));
        poller->SetOnTerminate([this](WorkerThread *) {
            ended = true;
            endedAt = std::chrono::steady_clock::now();
            poller = nullptr;
        });
        poller->SetFreeOnTerminate(true);
        poller->Start();
    }

    bool waitEnded(std::chrono::milliseconds limit = 5s)
    {
        return test::WaitUntil([this] { return ended; }, limit);
    }

    void stop()
    {
        if (poller)
            poller->Terminate();
        ASSERT_TRUE(waitEnded());
        WorkerThread::WaitForAllEnded();
    }
};

// The link's own timings, so a changed constant changes the bounds with it.
constexpr std::chrono::milliseconds Pause(IterationPauseMs);
constexpr std::chrono::milliseconds ReplyWindow(ReplyWindowMs);

FakeDevice::Answer answerWith(const std::string &status4)
{
    return [status4](const std::string &, int) { return FakeDevice::reply(status4); };
}

TEST(PollingThread, FirstFrameCarriesSpacesAndConnectionIsShown)
{
    FakeDevice device(answerWith("1102"));
    PollerRun run;
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 2; }, 5s));
    EXPECT_EQ(device.frames()[0].bytes, std::string("@C1     \r"));
    ASSERT_FALSE(run.window.statusTexts.empty());
    EXPECT_EQ(run.window.statusTexts[0], "CONNECTED [127.0.0.1]");
    run.stop();
}

TEST(PollingThread, CommandRidesExactlyOneFrame)
{
    FakeDevice device(answerWith("1102"));
    PollerRun run;
    run.window.pending = {'1', 0, 0, '3'};
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 3; }, 5s));
    const auto frames = device.frames();
    EXPECT_EQ(frames[0].bytes, std::string("@C11  3 \r"));
    EXPECT_EQ(frames[1].bytes, std::string("@C1     \r"));
    EXPECT_EQ(frames[2].bytes, std::string("@C1     \r"));
    run.stop();
}

TEST(PollingThread, AcceptedReplyIsShownAndAnAnsweringDeviceGetsAFrameEveryThreePauses)
{
    FakeDevice device(answerWith("2013"));
    PollerRun run;
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 4; }, 5s));
    ASSERT_FALSE(run.window.shown.empty());
    EXPECT_EQ(run.window.shown[0], (DeviceStatusChars{'2', '0', '1', '3'}));
    EXPECT_EQ(DeviceStatus, (DeviceStatusChars{'2', '0', '1', '3'}));
    const auto frames = device.frames();
    const auto period = frames[3].at - frames[2].at;
    // The pause after the send, and two after the taken reply; generous above,
    // so that a loaded machine does not fail it.
    EXPECT_GE(period, 3 * Pause - 20ms);
    EXPECT_LT(period, 15 * Pause);
    run.stop();
}

TEST(PollingThread, RepliesThatAreNotAcceptedAreDropped)
{
    // Frame 0: the reply comes in two parts taken at two looks. Frame 1: two
    // replies at once, as a late reply joins the next one.
    FakeDevice device([](const std::string &, int index) -> std::optional<std::string> {
        if (index == 0) {
            return std::string("@c111");
        }
        if (index == 1)
            return std::string("0200000@c11102ABCDE"); // rest of part one + a reply: 19 bytes
        if (index == 2)
            return FakeDevice::reply("1102") + FakeDevice::reply("1102");
        return std::nullopt;
    });
    PollerRun run;
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 4; }, 8s));
    EXPECT_TRUE(run.window.shown.empty());
    run.stop();
}

TEST(PollingThread, SilentDeviceGetsAFrameEveryReplyWindowAcrossTheTickWrap)
{
    FakeDevice device;
    PollerRun run;
    // The counter wraps about one second into the first reply window.
    const auto base = std::chrono::steady_clock::now();
    TickSource ticks = [base] {
        const auto ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - base)
                .count();
        return static_cast<std::uint32_t>(0xFFFFFFFFu - 1000u + static_cast<std::uint32_t>(ms));
    };
    run.start(device.port(), "127.0.0.1", ticks);
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 2; }, 10s));
    const auto frames = device.frames();
    const auto period = frames[1].at - frames[0].at;
    EXPECT_GE(period, ReplyWindow + Pause / 2);
    EXPECT_LT(period, ReplyWindow + 20 * Pause);
    EXPECT_TRUE(run.window.shown.empty());
    run.stop();
}

TEST(PollingThread, RefusedConnectionEndsWithoutAnyHandOffStep)
{
    PollerRun run;
    run.start(ClosedPort());
    ASSERT_TRUE(run.waitEnded(5s));
    EXPECT_TRUE(run.window.statusTexts.empty());
    EXPECT_EQ(run.window.builds, 0);
    WorkerThread::WaitForAllEnded();
}

TEST(PollingThread, TextsThatDoNotReachAnIPv4AddressNeverConnect)
{
    // A device listens on 127.0.0.1, which the IPv4-mapped spellings name.
    FakeDevice device(answerWith("1102"));
    for (const QString ip : {"::1", "1.2.3.4.5", "", "::ffff:127.0.0.1", "::FFFF:7F00:1",
                             "0:0:0:0:0:ffff:127.0.0.1", "::ffff:7f00:0001", "[::ffff:127.0.0.1]"}) {
        PollerRun run;
        run.start(device.port(), ip);
        ASSERT_TRUE(run.waitEnded(10s)) << ip.toStdString();
        EXPECT_TRUE(run.window.statusTexts.empty()) << ip.toStdString();
    }
    EXPECT_EQ(device.connections(), 0);
    WorkerThread::WaitForAllEnded();
}

TEST(PollingThread, StreamingDeviceIsRejectedAndTheStopRequestStillEndsTheThread)
{
    FakeDevice device(FakeDevice::Behaviour::Streams);
    PollerRun run;
    run.start(device.port());
    EXPECT_TRUE(test::WaitUntil([&] { return device.sent() > (1u << 20); }, 10s));
    const auto requested = std::chrono::steady_clock::now();
    run.poller->Terminate();
    ASSERT_TRUE(run.waitEnded(5s));
    EXPECT_LT(run.endedAt - requested, 10 * Pause);
    EXPECT_EQ(run.window.statusTexts.at(0), "CONNECTED [127.0.0.1]");
    EXPECT_TRUE(run.window.shown.empty());
    WorkerThread::WaitForAllEnded();
}

TEST(PollingThread, DottedTextWithLeadingZerosConnects)
{
    FakeDevice device(answerWith("1000"));
    PollerRun run;
    run.start(device.port(), "0127.000.000.001");
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 1; }, 5s));
    EXPECT_EQ(run.window.statusTexts.at(0), "CONNECTED [0127.000.000.001]");
    run.stop();
}

TEST(PollingThread, StopWhileAwaitingClosesWithinOnePause)
{
    FakeDevice device; // never answers
    PollerRun run;
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 1; }, 5s));
    const auto requested = std::chrono::steady_clock::now();
    run.poller->Terminate();
    ASSERT_TRUE(device.waitForEndOfStream(2s));
    ASSERT_TRUE(run.waitEnded());
    EXPECT_LT(run.endedAt - requested, 10 * Pause);
    EXPECT_EQ(device.frames().size(), 1u);
    WorkerThread::WaitForAllEnded();
}

class DeviceGoneTest : public testing::TestWithParam<bool> { };

TEST_P(DeviceGoneTest, EndsPromptlyAndLeavesPendingCommandsPending)
{
    FakeDevice device; // silent, so the thread is awaiting a reply
    PollerRun run;
    run.start(device.port());
    ASSERT_TRUE(test::WaitUntil([&] { return device.frames().size() >= 1; }, 5s));
    run.window.pending.PowerCmd = '1';
    const auto closedAt = std::chrono::steady_clock::now();
    device.closeConnection(GetParam());
    ASSERT_TRUE(run.waitEnded(5s));
    EXPECT_LT(run.endedAt - closedAt, 10 * Pause);
    EXPECT_EQ(run.window.builds, 1);
    EXPECT_EQ(run.window.pending.PowerCmd, '1');
    WorkerThread::WaitForAllEnded();
}

INSTANTIATE_TEST_SUITE_P(CloseOrReset, DeviceGoneTest, testing::Values(false, true),
                         [](const auto &info) { return info.param ? "Reset" : "Close"; });

TEST(PollingThread, FailingHandOffStepEndsTheThread)
{
    FakeDevice device(answerWith("1102"));
    PollerRun run;
    run.window.throwOnBuild = 1;
    run.start(device.port());
    ASSERT_TRUE(run.waitEnded(5s));
    EXPECT_EQ(device.frames().size(), 1u);
    EXPECT_TRUE(device.waitForEndOfStream(2s));
    WorkerThread::WaitForAllEnded();
}

TEST(PollingThread, AbortEndsAConnectAttemptThatWouldHang)
{
    // A listener whose backlog is full leaves further connects pending.
    const StalledListener listener;
    PollerRun run;
    run.start(listener.port());
    std::this_thread::sleep_for(300ms);
    EXPECT_FALSE(run.ended);
    run.poller->Terminate();
    run.poller->AbortConnect();
    EXPECT_TRUE(run.waitEnded(2s));
    WorkerThread::WaitForAllEnded();
}

} // namespace
