#include "discovery/DeviceSender.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>

using namespace lumacast;

namespace {

struct Sender : test::Row {
    const char *address; // an IPv4 or IPv6 literal
    const char *why; // "" for a possible device
};

class DeviceSender : public testing::TestWithParam<Sender> { };

// The network of 192.0.2.1/24 is this machine's in every row.
TEST_P(DeviceSender, LeavesOutWhatCannotBeADevice)
{
    const Sender &s = GetParam();
    Endpoint sender;
    if (::inet_pton(AF_INET, s.address, sender.bytes.data()) != 1) {
        sender.family = IpFamily::IPv6;
        ASSERT_EQ(::inet_pton(AF_INET6, s.address, sender.bytes.data()), 1) << s.address;
    }
    EXPECT_EQ(NotADevice(sender, {Ipv4Address{0xC00002FFu}}), s.why);
}

constexpr const char *NoHost = "not a device's address";
constexpr const char *Broadcast = "a broadcast address";
constexpr const char *Multicast = "a multicast address";

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceSender,
    testing::Values(Sender{{"Unspecified"}, "0.0.0.0", NoHost},
                    Sender{{"ThisNetwork"}, "0.255.255.255", NoHost},
                    Sender{{"LimitedBroadcast"}, "255.255.255.255", Broadcast},
                    Sender{{"LocalNetworksBroadcast"}, "192.0.2.255", Broadcast},
                    Sender{{"OtherNetworksBroadcast"}, "198.51.100.255", ""},
                    Sender{{"MulticastFirst"}, "224.0.0.1", Multicast},
                    Sender{{"MulticastLast"}, "239.255.255.255", Multicast},
                    Sender{{"ReservedAboveMulticast"}, "240.0.0.1", ""}, Sender{{"Device"}, "192.0.2.10", ""},
                    Sender{{"ThisMachine"}, "127.0.0.1", ""}, Sender{{"Ipv6Unspecified"}, "::", NoHost},
                    Sender{{"Ipv6Multicast"}, "ff02::1", Multicast}, Sender{{"Ipv6Loopback"}, "::1", ""},
                    Sender{{"Ipv6LinkLocal"}, "fe80::1", ""}),
    test::RowName());

} // namespace
