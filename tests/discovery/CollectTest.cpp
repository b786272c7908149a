#include "discovery/Collect.h"
#include "discovery/DiscoveryRequest.h"
#include "discovery/SenderAddress.h"
#include "platform/AbortSignal.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace lumacast;
using namespace std::chrono_literals;
using test::UdpPeer;

namespace {

TEST(CollectTest, EachSenderOnceInTheOrderOfItsFirstAnswer)
{
    ASSERT_TRUE(test::InPrivateNetwork()) << "broadcasts only inside a private network namespace";
    UdpPeer listener("0.0.0.0", test::FreeUdpPort());
    UdpPeer first("127.0.0.3"), second("127.0.0.2"), again("127.0.0.3");
    ASSERT_TRUE(listener.Ok() && first.Ok() && second.Ok() && again.Ok());
    std::thread devices([&] {
        const auto request = listener.Receive(2s);
        ASSERT_TRUE(request);
        EXPECT_EQ(request->data, DiscoveryRequest());
        for (const UdpPeer *peer : {&first, &second, &again, &first})
            peer->Send("127.0.0.1", request->senderPort, "RK-DX420");
    });
    AbortSignal stop;
    const auto start = std::chrono::steady_clock::now();
    const Collected collected = CollectAnswers(test::FreeUdpPort(), listener.Port(), 700ms, stop);
    devices.join();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 700ms);
    EXPECT_EQ(collected.failure, Collected::Failure::None);
    std::vector<std::string> senders;
    for (const Endpoint &sender : collected.senders)
        senders.push_back(SenderAddressText(sender));
    EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.3", "127.0.0.2"}));
}

} // namespace
