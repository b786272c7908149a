#include "SimOptions.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <functional>

using namespace lumacast::sim;
using namespace std::chrono_literals;

namespace {

struct OptionCase : lumacast::test::Row {
    std::vector<std::string_view> args;
    std::function<bool(const SimOptions &)> holds; // empty: the line is rejected
};

class SimOptionsTest : public testing::TestWithParam<OptionCase> { };

TEST_P(SimOptionsTest, Reads)
{
    const auto &c = GetParam();
    const auto parsed = ParseOptions(c.args);
    if (!c.holds) {
        EXPECT_FALSE(parsed.options.has_value());
        EXPECT_FALSE(parsed.error.empty());
        return;
    }
    ASSERT_TRUE(parsed.options.has_value()) << parsed.error;
    EXPECT_TRUE(c.holds(*parsed.options));
}

INSTANTIATE_TEST_SUITE_P(
    CommandLines, SimOptionsTest,
    testing::Values(
        OptionCase{"Defaults",
                   {},
                   [](const SimOptions &o) {
                       return o.port == 50000 && o.discoveryPort == 54321 && o.bind == "0.0.0.0" &&
                           o.warmUp == 3000ms && !o.silent && o.delay == 0ms && !o.split &&
                           o.closeAfter == 0 && o.resetAfter == 0 && !o.refuse && !o.noDiscovery &&
                           o.fault.length == 0 && !o.fault.badHeader;
                   }},
        OptionCase{"PortSeparate", {"--port", "50001"}, [](const SimOptions &o) { return o.port == 50001; }},
        OptionCase{"PortInline", {"--port=0"}, [](const SimOptions &o) { return o.port == 0; }},
        OptionCase{"PortTooLarge", {"--port", "65536"}, {}}, OptionCase{"PortNegative", {"--port", "-1"}, {}},
        OptionCase{"PortMissing", {"--port"}, {}}, OptionCase{"PortNotANumber", {"--port", "50k"}, {}},
        OptionCase{"DiscoveryPort",
                   {"--discovery-port", "5432"},
                   [](const SimOptions &o) { return o.discoveryPort == 5432; }},
        OptionCase{
            "Bind", {"--bind", "127.0.0.1"}, [](const SimOptions &o) { return o.bind == "127.0.0.1"; }},
        OptionCase{"BindHostName", {"--bind", "localhost"}, {}},
        OptionCase{"BindIPv6", {"--bind", "::1"}, {}},
        OptionCase{"Faults",
                   {"--silent", "--split", "--split-gap-ms", "40", "--bad-header", "--delay-ms=250",
                    "--no-discovery", "--refuse"},
                   [](const SimOptions &o) {
                       return o.silent && o.split && o.splitGap == 40ms && o.fault.badHeader &&
                           o.delay == 250ms && o.noDiscovery && o.refuse;
                   }},
        OptionCase{"FlagWithValue", {"--silent=1"}, {}},
        OptionCase{"BadLengthBare",
                   {"--bad-length", "--silent"},
                   [](const SimOptions &o) { return o.fault.length == 13 && o.silent; }},
        OptionCase{
            "BadLengthValue", {"--bad-length=11"}, [](const SimOptions &o) { return o.fault.length == 11; }},
        OptionCase{"BadLengthTwelveIsNoFault", {"--bad-length=12"}, {}},
        OptionCase{"BadLengthZero", {"--bad-length=0"}, {}},
        OptionCase{"WarmUp", {"--warmup-ms", "0"}, [](const SimOptions &o) { return o.warmUp == 0ms; }},
        OptionCase{"DelayNegative", {"--delay-ms", "-5"}, {}},
        OptionCase{
            "CloseAfter", {"--close-after", "3"}, [](const SimOptions &o) { return o.closeAfter == 3; }},
        OptionCase{"CloseAfterZero", {"--close-after", "0"}, {}},
        OptionCase{"ResetAfter", {"--reset-after=1"}, [](const SimOptions &o) { return o.resetAfter == 1; }},
        OptionCase{"CloseAndResetExcludeEachOther", {"--close-after", "1", "--reset-after", "2"}, {}},
        OptionCase{"Stall",
                   {"--stall"},
                   [](const SimOptions &o) { return o.stall && !o.refuse && !o.neverRead && !o.stream; }},
        OptionCase{"NeverRead", {"--never-read"}, [](const SimOptions &o) { return o.neverRead; }},
        OptionCase{
            "StreamBare", {"--stream"}, [](const SimOptions &o) { return o.stream && o.streamLimit == 0; }},
        OptionCase{"StreamLimit",
                   {"--stream=1048576"},
                   [](const SimOptions &o) { return o.stream && o.streamLimit == 1048576; }},
        OptionCase{"StreamLimitZero", {"--stream=0"}, {}},
        OptionCase{"PortModesExcludeEachOther", {"--stall", "--stream"}, {}},
        OptionCase{"DiscoveryAnswer",
                   {"--discovery-answer", "hello"},
                   [](const SimOptions &o) { return o.discoveryAnswer == "hello"; }},
        OptionCase{"DiscoveryAnswerEmpty", {"--discovery-answer="}, {}},
        OptionCase{"Devices",
                   {"--devices", "192.0.2.254-192.0.3.1,10.0.0.7"},
                   [](const SimOptions &o) {
                       return o.devices ==
                           std::vector<std::string>{"192.0.2.254", "192.0.2.255", "192.0.3.0", "192.0.3.1",
                                                    "10.0.0.7"};
                   }},
        OptionCase{"DevicesTwice", {"--devices", "192.0.2.10-192.0.2.12,192.0.2.11"}, {}},
        OptionCase{"DevicesBackwards", {"--devices", "192.0.2.12-192.0.2.10"}, {}},
        OptionCase{"DevicesTooMany", {"--devices", "10.0.0.0-10.0.4.0"}, {}},
        OptionCase{"DevicesWildcard", {"--devices", "0.0.0.0"}, {}},
        OptionCase{"DevicesAndBind", {"--devices", "192.0.2.10", "--bind", "192.0.2.11"}, {}},
        OptionCase{"Help", {"-h"}, [](const SimOptions &o) { return o.help; }},
        OptionCase{"Unknown", {"--explode"}, {}}, OptionCase{"StrayArgument", {"50000"}, {}}),
    lumacast::test::RowName());

TEST(SimOptions, HelpNamesEveryOption)
{
    const std::string help = HelpText("rkdx-sim");
    for (const char *option :
         {"--port",         "--bind",       "--discovery-port", "--discovery-answer", "--refuse",
          "--no-discovery", "--warmup-ms",  "--silent",         "--delay-ms",         "--split",
          "--split-gap-ms", "--bad-header", "--bad-length",     "--close-after",      "--reset-after",
          "--stall",        "--never-read", "--stream",         "--devices",          "--help"})
        EXPECT_NE(help.find(option), std::string::npos) << option;
}

} // namespace
