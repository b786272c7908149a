#include "discovery/DeviceSender.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace lumacast;

namespace {

constexpr const char *NoHost = "not a device's address", *Broadcast = "a broadcast address",
                     *Multicast = "a multicast address";

struct Sender : test::Row {
    const char *address; // an IPv4 or IPv6 literal
    const char *why; // "" for a possible device
};

class DiscoverySender : public testing::TestWithParam<Sender> { };

// This machine's one network is 192.0.2.0/24.
TEST_P(DiscoverySender, LeavesOutWhatCannotBeADevice)
{
    Endpoint sender;
    if (::inet_pton(AF_INET, GetParam().address, sender.bytes.data()) != 1) {
        sender.family = IpFamily::IPv6;
        ASSERT_EQ(::inet_pton(AF_INET6, GetParam().address, sender.bytes.data()), 1);
    }
    EXPECT_EQ(NotADevice(sender, {Ipv4Address{0xC00002FFu}}), GetParam().why);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DiscoverySender,
    testing::Values(Sender{{"AllZero"}, "0.0.0.0", NoHost}, Sender{{"ThisNetwork"}, "0.255.255.255", NoHost},
                    Sender{{"LimitedBroadcast"}, "255.255.255.255", Broadcast},
                    Sender{{"LocalBroadcast"}, "192.0.2.255", Broadcast},
                    Sender{{"OtherNetworksBroadcast"}, "198.51.100.255", ""},
                    Sender{{"MulticastFirst"}, "224.0.0.1", Multicast},
                    Sender{{"MulticastLast"}, "239.255.255.255", Multicast},
                    Sender{{"AboveMulticast"}, "240.0.0.1", ""}, Sender{{"ThisMachine"}, "127.0.0.1", ""},
                    Sender{{"Ipv6AllZero"}, "::", NoHost}, Sender{{"Ipv6Multicast"}, "ff02::1", Multicast},
                    Sender{{"Ipv6Loopback"}, "::1", ""}),
    test::RowName());

} // namespace
