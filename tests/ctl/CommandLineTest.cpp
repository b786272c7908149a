#include "ctl/CommandLine.h"
#include "ctl/Program.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <iostream>
#include <sstream>

using namespace lumacast;
using namespace lumacast::ctl;

namespace {

using Args = std::vector<std::string>;

struct Good : test::Row {
    Args args;
    Command command;
    PendingCommands pending;
    Args targets;
    bool all;
    bool json;
    int timeoutMs;
    int waitMs; // -1: no wait
    int windowMs;
};

class GoodCommandLine : public testing::TestWithParam<Good> { };

TEST_P(GoodCommandLine, ReadsAsMeant)
{
    const Good &g = GetParam();
    const Parsed parsed = ParseCommandLine(g.args);
    ASSERT_EQ(parsed.kind, Parsed::Kind::Run) << parsed.text;
    const Options &o = parsed.options;
    EXPECT_EQ(o.command, g.command);
    EXPECT_EQ(
        std::string(1, o.pending.PowerCmd) + o.pending.LampCmd + o.pending.MuteCmd + o.pending.InpSelCmd,
        std::string(1, g.pending.PowerCmd) + g.pending.LampCmd + g.pending.MuteCmd + g.pending.InpSelCmd);
    EXPECT_EQ(o.targets, g.targets);
    EXPECT_EQ(o.all, g.all);
    EXPECT_EQ(o.json, g.json);
    EXPECT_EQ(o.timeout.count(), g.timeoutMs);
    EXPECT_EQ(o.wait ? o.wait->count() : -1, g.waitMs);
    EXPECT_EQ(o.discoveryWindow.count(), g.windowMs);
}

const PendingCommands None{};

INSTANTIATE_TEST_SUITE_P(
    Table, GoodCommandLine,
    testing::Values(Good{{"Find"}, {"find"}, Command::Find, None, {}, false, false, 5000, -1, 1500},
                    Good{{"FindLongerAsJson"},
                         {"find", "--wait-ms", "3000", "--json"},
                         Command::Find,
                         None,
                         {},
                         false,
                         true,
                         5000,
                         -1,
                         3000},
                    Good{{"StatusOfAddressAndHostName"},
                         {"status", "192.0.2.10", "projector-1.example."},
                         Command::Status,
                         None,
                         {"192.0.2.10", "projector-1.example."},
                         false,
                         false,
                         5000,
                         -1,
                         1500},
                    // The panel's own test takes these, so the command line does too.
                    Good{{"StatusOfLenientAddresses"},
                         {"status", "010.001.002.003", "0x7F.0.0.1", "::1"},
                         Command::Status,
                         None,
                         {"010.001.002.003", "0x7F.0.0.1", "::1"},
                         false,
                         false,
                         5000,
                         -1,
                         1500},
                    Good{{"StatusOfAllWithWindow"},
                         {"status", "--all", "--wait-ms=2000"},
                         Command::Status,
                         None,
                         {},
                         true,
                         false,
                         5000,
                         -1,
                         2000},
                    Good{{"PowerOnWaiting"},
                         {"power", "on", "192.0.2.10", "--wait", "2.5"},
                         Command::Power,
                         {'1', 0, 0, 0},
                         {"192.0.2.10"},
                         false,
                         false,
                         5000,
                         2500,
                         1500},
                    Good{{"LampOffOptionsFirst"},
                         {"--json", "lamp", "off", "192.0.2.10"},
                         Command::Lamp,
                         {0, '0', 0, 0},
                         {"192.0.2.10"},
                         false,
                         true,
                         5000,
                         -1,
                         1500},
                    Good{{"MuteOnShortTimeout"},
                         {"mute", "on", "--timeout=0.25", "10.0.0.1"},
                         Command::Mute,
                         {0, 0, '1', 0},
                         {"10.0.0.1"},
                         false,
                         false,
                         250,
                         -1,
                         1500},
                    Good{{"InputFiveOfAll"},
                         {"input", "5", "--all"},
                         Command::Input,
                         {0, 0, 0, '5'},
                         {},
                         true,
                         false,
                         5000,
                         -1,
                         1500},
                    Good{{"SignedTargetAfterDoubleDash"},
                         {"status", "--", "-1.2.3.4"},
                         Command::Status,
                         None,
                         {"-1.2.3.4"},
                         false,
                         false,
                         5000,
                         -1,
                         1500}),
    test::RowName());

struct Bad : test::Row {
    Args args;
    const char *message;
};

class BadCommandLine : public testing::TestWithParam<Bad> { };

TEST_P(BadCommandLine, SaysWhatIsWrongAndEndsWithStatusTwo)
{
    const Bad &b = GetParam();
    const Parsed parsed = ParseCommandLine(b.args);
    ASSERT_EQ(parsed.kind, Parsed::Kind::UsageError);
    EXPECT_NE(parsed.text.find(b.message), std::string::npos) << parsed.text;
    std::ostringstream err;
    std::streambuf *const saved = std::cerr.rdbuf(err.rdbuf());
    const int status = Main(b.args);
    std::cerr.rdbuf(saved);
    EXPECT_EQ(status, ExitUsage);
    EXPECT_NE(err.str().find(b.message), std::string::npos) << err.str();
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadCommandLine,
    testing::Values(
        Bad{{"NoCommand"}, {}, "no command given"},
        Bad{{"UnknownCommand"}, {"reboot", "192.0.2.10"}, "unknown command 'reboot'"},
        Bad{{"UnknownOption"}, {"status", "--fast", "192.0.2.10"}, "unknown option '--fast'"},
        Bad{{"PowerWithoutState"}, {"power", "192.0.2.10"}, "power needs on or off, not '192.0.2.10'"},
        Bad{{"MuteWithNothing"}, {"mute"}, "mute needs on or off"},
        Bad{{"InputSix"}, {"input", "6", "192.0.2.10"}, "input from 1 to 5, not '6'"},
        Bad{{"InputZero"}, {"input", "0", "192.0.2.10"}, "input from 1 to 5, not '0'"},
        Bad{{"NoTarget"}, {"status"}, "status needs a target or --all"},
        Bad{{"TargetsAndAll"}, {"lamp", "on", "--all", "192.0.2.10"}, "not both"},
        Bad{{"AddressWithPort"},
            {"status", "192.0.2.10:50000"},
            "not an address or host name: '192.0.2.10:50000'"},
        Bad{{"AddressWithTrailingSpace"}, {"status", "192.0.2.10 "}, "not an address or host name"},
        Bad{{"EmptyTarget"}, {"status", ""}, "not an address or host name: ''"},
        Bad{{"FindWithTarget"}, {"find", "192.0.2.10"}, "find takes no targets"},
        Bad{{"FindWithAll"}, {"find", "--all"}, "find takes no --all"},
        Bad{{"FindWithTimeout"}, {"find", "--timeout", "2"}, "takes no --timeout"},
        Bad{{"StatusWithWait"}, {"status", "192.0.2.10", "--wait", "3"}, "status takes no --wait"},
        Bad{{"WindowWithoutDiscovery"},
            {"status", "192.0.2.10", "--wait-ms", "2000"},
            "--wait-ms is for find"},
        Bad{{"WindowShorterThanThePanels"},
            {"find", "--wait-ms", "1000"},
            "from 1500 up to 600000, not '1000'"},
        Bad{{"TimeoutZero"}, {"status", "192.0.2.10", "--timeout", "0"}, "above 0 and up to 3600, not '0'"},
        Bad{{"TimeoutWord"}, {"status", "192.0.2.10", "--timeout", "soon"}, "not 'soon'"},
        Bad{{"TimeoutFourPlaces"}, {"status", "192.0.2.10", "--timeout", "0.0001"}, "not '0.0001'"},
        Bad{{"TimeoutOverAnHour"}, {"status", "192.0.2.10", "--timeout", "3601"}, "not '3601'"},
        Bad{{"TimeoutNegative"}, {"status", "192.0.2.10", "--timeout=-1"}, "not '-1'"},
        Bad{{"TimeoutWithoutValue"}, {"status", "192.0.2.10", "--timeout"}, "--timeout needs a value"},
        Bad{{"TimeoutTwice"}, {"status", "192.0.2.10", "--timeout", "1", "--timeout", "2"}, "given twice"},
        Bad{{"SwitchWithValue"}, {"find", "--json=yes"}, "--json takes no value"}),
    test::RowName());

struct Info : test::Row {
    Args args;
    Parsed::Kind kind;
    const char *says;
};

class InfoCommandLine : public testing::TestWithParam<Info> { };

TEST_P(InfoCommandLine, HelpAndVersionWinOverTheRest)
{
    const Info &i = GetParam();
    const Parsed parsed = ParseCommandLine(i.args);
    ASSERT_EQ(parsed.kind, i.kind);
    EXPECT_NE(parsed.text.find(i.says), std::string::npos) << parsed.text;
}

INSTANTIATE_TEST_SUITE_P(
    Table, InfoCommandLine,
    testing::Values(
        Info{{"Help"}, {"--help"}, Parsed::Kind::Help, "one connection at a time"},
        Info{{"HelpOfACommand"}, {"status", "--help"}, Parsed::Kind::Help, "Usage: lumacast2-ctl status"},
        Info{{"HelpDespiteAWrongOption"},
             {"input", "-h", "--bogus"},
             Parsed::Kind::Help,
             "Usage: lumacast2-ctl input 1..5"},
        Info{{"HelpOfAnUnknownCommand"}, {"reboot", "--help"}, Parsed::Kind::Help, "Commands:"},
        Info{{"Version"}, {"--version", "status"}, Parsed::Kind::Version, ""}),
    test::RowName());

} // namespace
