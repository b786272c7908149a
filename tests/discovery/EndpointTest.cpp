#include "discovery/DiscoveryRequest.h"
#include "discovery/UdpServer.h"
#include "platform/HandOff.h"
#include "platform/SocketErrorText.h"
#include "support/Rows.h"
#include "support/UdpPeer.h"
#include "support/Wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>

using namespace lumacast;
using namespace std::chrono_literals;
using test::Serving;
using test::UdpPeer;
using test::WaitUntil;

namespace {

const std::string BindMessage = CouldNotBindText;

int BroadcastFlag(const UdpServer &endpoint)
{
    int value = -1;
    socklen_t len = sizeof value;
    ::getsockopt(endpoint.Sockets().front()->socket->Fd(), SOL_SOCKET, SO_BROADCAST, &value, &len);
    return value;
}

struct Seen {
    std::string peer;
    std::string data;
    IpFamily family;
};

class EndpointTest : public testing::Test {
protected:
    void SetUp() override
    {
        port_ = test::FreeUdpPort();
        endpoint_.SetPort(port_);
        endpoint_.onRead = [this](UdpListenerThread *thread, const std::vector<std::uint8_t> &data,
                                  SocketBinding &binding) {
            EXPECT_NE(thread, nullptr);
            seen_.push_back({binding.peerIp, std::string(data.begin(), data.end()), binding.family});
        };
    }

    void TearDown() override { endpoint_.SetActive(false); }

    std::uint16_t port_ = 0;
    UdpServer endpoint_{HandOffQueue::Make()};
    std::vector<Seen> seen_;
};

class RequestOnTheWireTest : public EndpointTest, public testing::WithParamInterface<bool> { };

TEST_P(RequestOnTheWireTest, SixtyFourBytesFromTheLocalPortAndThePermissionRestored)
{
    ASSERT_TRUE(test::InPrivateNetwork()) << "broadcasts only inside a private network namespace";
    const bool allowed = GetParam();
    UdpPeer device("0.0.0.0", test::FreeUdpPort());
    ASSERT_TRUE(device.Ok());
    endpoint_.SetBroadcastEnabled(allowed);
    endpoint_.SetActive(true);
    EXPECT_EQ(BroadcastFlag(endpoint_), allowed ? 1 : 0);

    endpoint_.Broadcast(DiscoveryRequest(), device.Port());
    const auto got = device.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->data.size(), 64u);
    EXPECT_EQ(got->data, DiscoveryRequest());
    EXPECT_EQ(got->senderPort, port_);
    EXPECT_TRUE(device.Quiet()) << "one datagram per send";
    EXPECT_EQ(BroadcastFlag(endpoint_), allowed ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(BroadcastSetting, RequestOnTheWireTest, testing::Values(true, false),
                         [](const auto &info) { return info.param ? "Allowed" : "NotAllowed"; });

struct SizeRow : test::Row {
    std::size_t size;
    bool counted;
};

class DatagramSizeTest : public EndpointTest, public testing::WithParamInterface<SizeRow> { };

TEST_P(DatagramSizeTest, OnlyOneTo8192BytesAreHandedOver)
{
    endpoint_.SetActive(true);
    UdpPeer device;
    std::string payload(GetParam().size, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    device.Send("127.0.0.1", port_, payload);
    device.Send("127.0.0.1", port_, "end"); // whatever came before has been dealt with by then
    ASSERT_TRUE(WaitUntil([&] { return !seen_.empty() && seen_.back().data == "end"; }));
    ASSERT_EQ(seen_.size(), GetParam().counted ? 2u : 1u);
    if (GetParam().counted) {
        EXPECT_EQ(seen_[0].data, payload);
        EXPECT_EQ(seen_[0].peer, "127.0.0.1");
        EXPECT_EQ(seen_[0].family, IpFamily::IPv4);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, DatagramSizeTest,
                         testing::Values(SizeRow{"Empty", 0, false}, SizeRow{"OneByte", 1, true},
                                         SizeRow{"Request", 64, true}, SizeRow{"Largest", 8192, true},
                                         SizeRow{"OneTooMany", 8193, false}, SizeRow{"Huge", 65000, false}),
                         test::RowName());

class BindFailureTest : public EndpointTest, public testing::WithParamInterface<const char *> { };

TEST_P(BindFailureTest, HeldPortLeavesNothingOpenAndTheNextSendRetries)
{
    ASSERT_TRUE(test::InPrivateNetwork()) << "broadcasts only inside a private network namespace";
    auto holder = std::make_unique<UdpPeer>(GetParam(), port_);
    if (!holder->Ok())
        GTEST_SKIP() << "no " << GetParam() << " here";
    endpoint_.SetBroadcastEnabled(true);
    try {
        endpoint_.SetActive(true);
        FAIL() << "bound a held port";
    } catch (const SocketError &e) {
        EXPECT_EQ(e.what(), BindMessage);
    }
    EXPECT_FALSE(endpoint_.Active());
    for (const auto &binding : endpoint_.Sockets())
        EXPECT_EQ(binding->socket, nullptr);
    // Whatever this attempt bound before the failure has been given back.
    EXPECT_TRUE(UdpPeer("0.0.0.0", port_).Ok() || std::string(GetParam()) == "0.0.0.0");

    UdpPeer device("0.0.0.0", test::FreeUdpPort());
    EXPECT_THROW(endpoint_.Broadcast(DiscoveryRequest(), device.Port()), EndpointBindError);
    EXPECT_TRUE(device.Quiet()) << "nothing is sent while the port is held";

    holder.reset();
    endpoint_.Broadcast(DiscoveryRequest(), device.Port());
    EXPECT_TRUE(endpoint_.Active());
    const auto got = device.Receive(2s);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->senderPort, port_);
    UdpPeer("127.0.0.1").Send("127.0.0.1", port_, "answer");
    EXPECT_TRUE(WaitUntil([&] { return seen_.size() == 1; }));
}

INSTANTIATE_TEST_SUITE_P(HeldBy, BindFailureTest, testing::Values("0.0.0.0", "::"),
                         [](const auto &info) { return std::string(info.param) == "::" ? "IPv6" : "IPv4"; });

TEST_F(EndpointTest, DeclaredSocketsAreFixedAtTheFirstActivation)
{
    EXPECT_TRUE(endpoint_.Sockets().empty());
    endpoint_.SetActive(true);
    endpoint_.SetActive(true); // already active: nothing happens
    ASSERT_FALSE(endpoint_.Sockets().empty());
    EXPECT_LE(endpoint_.Sockets().size(), 2u);
    EXPECT_EQ(endpoint_.Sockets()[0]->family, IpFamily::IPv4);
    const auto *first = endpoint_.Sockets()[0].get();
    const auto count = endpoint_.Sockets().size();
    endpoint_.SetActive(false);
    endpoint_.SetActive(false);
    EXPECT_EQ(endpoint_.Sockets()[0]->socket, nullptr);
    endpoint_.SetActive(true);
    EXPECT_EQ(endpoint_.Sockets()[0].get(), first);
    EXPECT_EQ(endpoint_.Sockets().size(), count);
    EXPECT_GE(endpoint_.ReceiveBufferGranted(), 400 * 1024) << "the burst would not fit";
}

struct StopRow : test::Row {
    bool answerWaiting; // a listener is blocked handing a datagram over
};

class DeactivationTest : public EndpointTest, public testing::WithParamInterface<StopRow> { };

TEST_P(DeactivationTest, EndsAtOnceAndStillHandlesTheDatagramBeingHandedOver)
{
    endpoint_.SetActive(true);
    if (GetParam().answerWaiting) {
        UdpPeer("127.0.0.1").Send("127.0.0.1", port_, "late");
        // No events served: once its listener has taken it, its hand-off waits.
        const int fd = endpoint_.Sockets().front()->socket->Fd();
        ASSERT_TRUE(WaitUntil(
            [fd] {
                int waiting = 0;
                return ::ioctl(fd, FIONREAD, &waiting) == 0 && waiting == 0;
            },
            5s, Serving::Nothing));
    }
    const auto start = std::chrono::steady_clock::now();
    endpoint_.SetActive(false);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, 500ms);
    EXPECT_FALSE(endpoint_.Active());
    EXPECT_EQ(seen_.size(), GetParam().answerWaiting ? 1u : 0u);
    // Every socket was closed: the port is free, and what comes to it now
    // reaches whoever holds it then.
    const UdpPeer heir("0.0.0.0", port_);
    ASSERT_TRUE(heir.Ok());
    UdpPeer("127.0.0.1").Send("127.0.0.1", port_, "after");
    ASSERT_TRUE(heir.Receive(2s));
    ASSERT_TRUE(WaitUntil([] { return true; }));
    EXPECT_EQ(seen_.size(), GetParam().answerWaiting ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, DeactivationTest,
                         testing::Values(StopRow{"Idle", false}, StopRow{"DuringHandOff", true}),
                         test::RowName());

TEST_F(EndpointTest, IPv6AnswerCarriesTheLongIPv6Form)
{
    endpoint_.SetActive(true);
    UdpPeer device("::1");
    if (endpoint_.Sockets().size() < 2 || !device.Ok())
        GTEST_SKIP() << "no IPv6 loopback here";
    device.Send("::1", port_, "v6");
    ASSERT_TRUE(WaitUntil([&] { return seen_.size() == 1; }));
    EXPECT_EQ(seen_[0].peer, "0:0:0:0:0:0:0:1");
    EXPECT_EQ(seen_[0].family, IpFamily::IPv6);
    // IPv4 still arrives on the IPv4 socket.
    UdpPeer("127.0.0.1").Send("127.0.0.1", port_, "v4");
    ASSERT_TRUE(WaitUntil([&] { return seen_.size() == 2; }));
    EXPECT_EQ(seen_[1].peer, "127.0.0.1");
    EXPECT_EQ(seen_[1].family, IpFamily::IPv4);
}

TEST_F(EndpointTest, ABurstOfAThousandAnswersLosesNoneAndKeepsTheirOrder)
{
    endpoint_.SetActive(true);
    UdpPeer device;
    constexpr int Count = 1000;
    for (int i = 0; i < Count; ++i)
        device.Send("127.0.0.1", port_, std::to_string(i));
    device.Send("127.0.0.1", port_, "end"); // whatever came before has been dealt with by then
    ASSERT_TRUE(WaitUntil([&] { return !seen_.empty() && seen_.back().data == "end"; }, 10s))
        << seen_.size() << " arrived";
    ASSERT_EQ(seen_.size(), std::size_t(Count) + 1);
    for (int i = 0; i < Count; ++i)
        ASSERT_EQ(seen_[i].data, std::to_string(i));
}

TEST_F(EndpointTest, AFailingHandlerCostsNoOtherDatagram)
{
    endpoint_.SetActive(true);
    int calls = 0;
    endpoint_.onRead = [&](UdpListenerThread *, const std::vector<std::uint8_t> &, SocketBinding &) {
        if (++calls == 1)
            throw std::runtime_error("handler failed");
    };
    UdpPeer device;
    for (int i = 0; i < 3; ++i)
        device.Send("127.0.0.1", port_, "x");
    EXPECT_TRUE(WaitUntil([&] { return calls == 3; }));
}

// A send that the system refuses: the endpoint lives on a thread that has a
// network namespace of its own with no interface up, so nothing can be
// reached. A thread rather than a forked child, so ThreadSanitizer runs it too.
struct SendFailureRow : test::Row {
    std::size_t size;
    std::string message;
};

class SendFailureTest : public testing::TestWithParam<SendFailureRow> { };

TEST_P(SendFailureTest, ThrowsTheSocketMessageAndStaysActive)
{
    std::string report;
    std::thread isolated([&] {
        if (::unshare(CLONE_NEWNET) != 0) {
            report = "no namespace";
            return;
        }
        try {
            UdpServer endpoint(HandOffQueue::Make());
            endpoint.SetPort(50008);
            endpoint.SetBroadcastEnabled(true);
            endpoint.SetActive(true);
            try {
                endpoint.Broadcast(std::string(GetParam().size, 'x'), 54321);
                report = "sent";
            } catch (const std::exception &e) {
                report = e.what();
            }
            report += endpoint.Active() ? "|active" : "|inactive";
            report += "|" + std::to_string(BroadcastFlag(endpoint));
            endpoint.SetActive(false);
        } catch (const std::exception &e) {
            report = std::string("activation: ") + e.what();
        }
    });
    isolated.join();
    if (report == "no namespace")
        GTEST_SKIP() << "no network namespace of our own here";
    EXPECT_EQ(report, GetParam().message + "|active|1");
}

INSTANTIATE_TEST_SUITE_P(
    Table, SendFailureTest,
    testing::Values(SendFailureRow{"NoRoute", 64, "Socket エラー # 10051\r\nネットワークに到達できません。"},
                    SendFailureRow{"TooLong", 70000, "パッケージ サイズが大きすぎます。"}),
    test::RowName());

} // namespace
