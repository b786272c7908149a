#include "discovery/Collect.h"
#include "discovery/SenderAddress.h"
#include "platform/AbortSignal.h"
#include "support/UdpPeer.h"

#include <gtest/gtest.h>

#include <thread>

using namespace lumacast;
using namespace std::chrono_literals;

TEST(DiscoveryCollect, EachSenderOnceInTheOrderOfItsFirstAnswer)
{
    ASSERT_TRUE(test::InPrivateNetwork()) << "broadcasts only inside a private network namespace";
    test::UdpPeer listener("0.0.0.0", test::FreeUdpPort()), first("127.0.0.3"), second("127.0.0.2");
    std::thread devices([&] {
        const auto request = listener.Receive(2s);
        ASSERT_TRUE(request);
        for (const test::UdpPeer *peer : {&first, &second, &first})
            peer->Send("127.0.0.1", request->senderPort, "RK-DX420");
    });
    const Collected collected = CollectAnswers(test::FreeUdpPort(), listener.Port(), 700ms, AbortSignal());
    devices.join();
    std::vector<std::string> senders;
    for (const Endpoint &sender : collected.senders)
        senders.push_back(SenderAddressText(sender));
    EXPECT_EQ(senders, (std::vector<std::string>{"127.0.0.3", "127.0.0.2"}));
}
