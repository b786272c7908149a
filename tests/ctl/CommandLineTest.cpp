#include "ctl/CommandLine.h"
#include "ctl/Program.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

using namespace lumacast;
using namespace lumacast::ctl;

namespace {

using Args = std::vector<std::string>;

using namespace std::string_literals;

const std::string LastInput = std::to_string(InputCount);

// What a reading gave, in short: the command, then what differs from the defaults.
std::string Describe(const Options &o)
{
    const char *const commands[] = {"find", "status", "watch", "power", "lamp", "mute", "input"};
    std::string text = commands[static_cast<int>(o.command)];
    const auto slot = [&text](const char *name, char c) {
        if (c != 0)
            text += " "s + name + "=" + c;
    };
    slot("power", o.pending.PowerCmd);
    slot("lamp", o.pending.LampCmd);
    slot("mute", o.pending.MuteCmd);
    slot("input", o.pending.InpSelCmd);
    for (const auto &t : o.targets)
        text += " " + t;
    for (const auto &[on, name] : {std::pair{o.all, " all"}, {o.json, " json"}, {o.once, " once"}})
        text += on ? name : "";
    if (o.timeout != DefaultConnectTimeout)
        text += " timeout=" + std::to_string(o.timeout.count());
    if (o.wait)
        text += " wait=" + std::to_string(o.wait->count());
    if (o.discoveryWindow.count() != 1500)
        text += " window=" + std::to_string(o.discoveryWindow.count());
    if (o.broker)
        text += " broker=" + *o.broker;
    if (o.base != "lumacast2")
        text += " base=" + o.base;
    return text;
}

struct Good : test::Row {
    Args args;
    std::string reads;
    const char *brokerVariable = "";
};

class GoodCommandLine : public testing::TestWithParam<Good> { };

TEST_P(GoodCommandLine, ReadsAsMeant)
{
    const Good &g = GetParam();
    const Parsed parsed = ParseCommandLine(g.args, g.brokerVariable);
    ASSERT_EQ(parsed.kind, Parsed::Kind::Run) << parsed.text;
    EXPECT_EQ(Describe(parsed.options), g.reads);
}

INSTANTIATE_TEST_SUITE_P(
    Table, GoodCommandLine,
    testing::Values(
        Good{{"Find"}, {"find"}, "find"},
        Good{{"FindLongerAsJson"}, {"find", "--wait-ms", "3000", "--json"}, "find json window=3000"},
        Good{{"StatusOfAddressAndHostName"},
             {"status", "192.0.2.10", "projector-1.example."},
             "status 192.0.2.10 projector-1.example."},
        // The panel's own test takes these, so the command line does too.
        Good{{"StatusOfLenientAddresses"},
             {"status", "010.001.002.003", "0x7F.0.0.1", "::1"},
             "status 010.001.002.003 0x7F.0.0.1 ::1"},
        Good{{"StatusOfAllWithWindow"}, {"status", "--all", "--wait-ms=2000"}, "status all window=2000"},
        Good{{"PowerOnWaiting"},
             {"power", "on", "192.0.2.10", "--wait", "2.5"},
             "power power=1 192.0.2.10 wait=2500"},
        Good{{"LampOffOptionsFirst"}, {"--json", "lamp", "off", "192.0.2.10"}, "lamp lamp=0 192.0.2.10 json"},
        Good{{"MuteOnShortTimeout"},
             {"mute", "on", "--timeout=0.25", "10.0.0.1"},
             "mute mute=1 10.0.0.1 timeout=250"},
        Good{{"LastInputOfAll"}, {"input", LastInput, "--all"}, "input input=" + LastInput + " all"},
        Good{{"SignedTargetAfterDoubleDash"}, {"status", "--", "-1.2.3.4"}, "status -1.2.3.4"},
        Good{{"WatchOnceAsJson"},
             {"watch", "192.0.2.10", "--once", "--json", "--timeout", "2"},
             "watch 192.0.2.10 json once timeout=2000"},
        Good{{"WatchAllWithWindow"}, {"watch", "--all", "--wait-ms", "2000"}, "watch all window=2000"},
        Good{{"BrokerAndBase"},
             {"status", "192.0.2.10", "--broker", "mqtts://ctl@broker.example:8883", "--base", "site/a"},
             "status 192.0.2.10 broker=mqtts://ctl@broker.example:8883 base=site/a"},
        Good{{"BrokerFromTheEnvironment"},
             {"power", "off", "--all", "--base", "b"},
             "power power=0 all broker=mqtt://[::1] base=b",
             "mqtt://[::1]"},
        Good{{"BrokerOptionOverTheEnvironment"},
             {"watch", "h", "--broker=mqtt://a"},
             "watch h broker=mqtt://a",
             "mqtt://b"},
        Good{{"FindIgnoresTheEnvironmentsBroker"}, {"find"}, "find", "not a broker"}),
    test::RowName());

struct Bad : test::Row {
    Args args;
    std::string message;
    const char *brokerVariable = "";
};

class BadCommandLine : public testing::TestWithParam<Bad> { };

TEST_P(BadCommandLine, SaysWhatIsWrongAndEndsWithStatusTwo)
{
    const Bad &b = GetParam();
    const Parsed parsed = ParseCommandLine(b.args, b.brokerVariable);
    ASSERT_EQ(parsed.kind, Parsed::Kind::UsageError);
    EXPECT_NE(parsed.text.find(b.message), std::string::npos) << parsed.text;
    if (*b.brokerVariable != '\0')
        return; // Main reads the variable from the environment itself
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
        Bad{{"InputPastTheLast"},
            {"input", std::to_string(InputCount + 1), "192.0.2.10"},
            "input from 1 to " + LastInput + ", not '" + std::to_string(InputCount + 1) + "'"},
        Bad{{"InputZero"}, {"input", "0", "192.0.2.10"}, "input from 1 to " + LastInput + ", not '0'"},
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
        Bad{{"SwitchWithValue"}, {"find", "--json=yes"}, "--json takes no value"},
        Bad{{"WatchWithWait"}, {"watch", "--all", "--wait", "3"}, "watch takes no --wait"},
        Bad{{"OnceWithoutWatch"}, {"status", "192.0.2.10", "--once"}, "status takes no --once"},
        Bad{{"FindWithBroker"}, {"find", "--broker", "mqtt://h"}, "find takes no --broker"},
        Bad{{"BrokerNotMqtt"},
            {"status", "192.0.2.10", "--broker", "http://h"},
            "--broker needs an mqtt:// or mqtts:// URL with a host, not 'http://h'"},
        Bad{{"BrokerWithoutHost"}, {"status", "192.0.2.10", "--broker=mqtt://:1883"}, "not 'mqtt://:1883'"},
        Bad{{"BrokerVariableNotAUrl"},
            {"status", "192.0.2.10"},
            "LUMACAST2_BROKER needs an mqtt:// or mqtts:// URL with a host, not 'broker:1883'",
            "broker:1883"},
        Bad{{"BaseWithoutBroker"}, {"status", "192.0.2.10", "--base", "b"}, "--base needs a broker"},
        Bad{{"BaseWithWildcard"},
            {"status", "192.0.2.10", "--broker", "mqtt://h", "--base", "a/#"},
            "--base needs a topic without + or #, not 'a/#'"}),
    test::RowName());

struct Info : test::Row {
    Args args;
    Parsed::Kind kind;
    std::string says;
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
             "Usage: lumacast2-ctl input 1.." + LastInput},
        Info{{"HelpOfAnUnknownCommand"}, {"reboot", "--help"}, Parsed::Kind::Help, "Commands:"},
        Info{{"Version"}, {"--version", "status"}, Parsed::Kind::Version, ""}),
    test::RowName());

// The man page and the completion tell of every command and option the table has.
std::string ReadDocument(const char *path)
{
    std::ifstream in(path);
    EXPECT_TRUE(in) << path;
    return {std::istreambuf_iterator<char>(in), {}};
}

// True when `text` has `name` with neither a letter, a digit nor a hyphen beside it.
bool Names(const std::string &text, const std::string &name)
{
    const auto stuck = [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '\\';
    };
    for (auto at = text.find(name); at != std::string::npos; at = text.find(name, at + 1))
        if ((at == 0 || !stuck(text[at - 1])) &&
            (at + name.size() == text.size() || !stuck(text[at + name.size()])))
            return true;
    return false;
}

// The tags of a man page section's items: each line after a .TP or .TQ.
std::string ManTags(const std::string &man, const std::string &section)
{
    std::istringstream lines(man);
    std::string line, tags, in;
    for (bool tag = false; std::getline(lines, line); tag = line == ".TP" || line == ".TQ") {
        if (line.rfind(".SH ", 0) == 0)
            in = line.substr(4);
        else if (tag && in == section)
            tags += line + "\n";
    }
    return tags;
}

using CommandOptions = std::pair<std::string, std::vector<std::string>>;

class CommandDocuments : public testing::TestWithParam<CommandOptions> { };

TEST_P(CommandDocuments, ManPageAndCompletionTellOfItAndItsOptions)
{
    const auto &[command, options] = GetParam();
    const std::string man = ReadDocument(LC_CTL_MAN_PAGE);
    EXPECT_TRUE(command.empty() || Names(ManTags(man, "COMMANDS"), command)) << command;
    for (const auto &option : options) {
        std::string spelled;
        for (char c : option)
            spelled += c == '-' ? "\\-" : std::string(1, c);
        EXPECT_TRUE(Names(ManTags(man, "OPTIONS"), spelled)) << option;
    }

    // Its own line of the completion offers exactly its options.
    const std::string completion = ReadDocument(LC_CTL_COMPLETION);
    const std::string lead = (command.empty() ? "\"\"" : command) + ") options=\"";
    const auto at = completion.find(lead);
    ASSERT_NE(at, std::string::npos) << lead;
    std::istringstream offered(
        completion.substr(at + lead.size(), completion.find('"', at + lead.size()) - at - lead.size()));
    std::vector<std::string> words{std::istream_iterator<std::string>(offered), {}}, expected = options;
    std::sort(words.begin(), words.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(words, expected);
}

INSTANTIATE_TEST_SUITE_P(Table, CommandDocuments, testing::ValuesIn(CommandOptionNames()),
                         [](const testing::TestParamInfo<CommandOptions> &info) {
                             return info.param.first.empty() ? "NoCommand"s : info.param.first;
                         });

TEST(CommandDocuments, CompletionKnowsEveryCommandAndWhichOptionsTakeAValue)
{
    const std::string completion = ReadDocument(LC_CTL_COMPLETION);
    std::string commands, valued;
    for (const auto &[command, options] : CommandOptionNames())
        commands += command.empty() ? "" : (commands.empty() ? "" : " ") + command;
    for (const auto &option : ValueOptionNames())
        valued += (valued.empty() ? "" : " | ") + option;
    EXPECT_NE(completion.find("compgen -W \"" + commands + "\""), std::string::npos) << commands;
    EXPECT_NE(completion.find(valued + ")"), std::string::npos) << valued;
}

} // namespace
