#include "discovery/DiscoveryRequest.h"
#include "discovery/SenderAddress.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

using namespace lumacast;

namespace {

struct FieldRow : test::Row {
    std::size_t offset;
    std::string bytes;
};

class DiscoveryRequestTest : public testing::TestWithParam<FieldRow> { };

TEST_P(DiscoveryRequestTest, FieldSitsAtItsOffset)
{
    const std::string request = DiscoveryRequest();
    ASSERT_EQ(request.size(), 64u);
    const FieldRow &row = GetParam();
    EXPECT_EQ(request.substr(row.offset, row.bytes.size()), row.bytes);
}

INSTANTIATE_TEST_SUITE_P(Table, DiscoveryRequestTest,
                         testing::Values(FieldRow{"Signature", 0, "VORN DISCOVERY  "},
                                         FieldRow{"ZeroByte", 16, std::string(1, '\0')},
                                         FieldRow{"Version", 17, "\x03"}, FieldRow{"Model", 18, "RK-DX420"},
                                         FieldRow{"Padding", 26, std::string(38, ' ')}),
                         test::RowName());

TEST(DiscoveryRequest, IsSevenBitAndTheSameEachTime)
{
    const std::string request = DiscoveryRequest();
    for (unsigned char c : request)
        EXPECT_LT(c, 0x80);
    EXPECT_EQ(request, DiscoveryRequest());
}

struct SenderRow : test::Row {
    int family;
    const char *address;
    std::string text;
};

class SenderAddressTest : public testing::TestWithParam<SenderRow> { };

TEST_P(SenderAddressTest, WrittenInTheListsForm)
{
    const SenderRow &row = GetParam();
    Endpoint sender;
    sender.family = row.family == AF_INET ? IpFamily::IPv4 : IpFamily::IPv6;
    sender.port = 54321;
    ASSERT_EQ(::inet_pton(row.family, row.address, sender.bytes.data()), 1);
    EXPECT_EQ(SenderAddressText(sender), row.text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SenderAddressTest,
    testing::Values(
        SenderRow{"Private", AF_INET, "192.168.0.10", "192.168.0.10"},
        SenderRow{"NoLeadingZeros", AF_INET, "10.0.1.2", "10.0.1.2"},
        SenderRow{"AllZero", AF_INET, "0.0.0.0", "0.0.0.0"},
        SenderRow{"AllOnes", AF_INET, "255.255.255.255", "255.255.255.255"},
        SenderRow{"LinkLocal", AF_INET6, "fe80::1234:5678:9abc:def0", "FE80:0:0:0:1234:5678:9ABC:DEF0"},
        SenderRow{"Loopback", AF_INET6, "::1", "0:0:0:0:0:0:0:1"},
        SenderRow{"Unspecified", AF_INET6, "::", "0:0:0:0:0:0:0:0"},
        SenderRow{"FullGroups", AF_INET6, "ffff:abcd:1:10:100:1000:f00f:8", "FFFF:ABCD:1:10:100:1000:F00F:8"},
        SenderRow{"MappedIPv4StaysIPv6", AF_INET6, "::ffff:192.0.2.1", "0:0:0:0:0:FFFF:C000:201"},
        SenderRow{"Documentation", AF_INET6, "2001:db8::1:0:0:1", "2001:DB8:0:0:1:0:0:1"}),
    test::RowName());

} // namespace
