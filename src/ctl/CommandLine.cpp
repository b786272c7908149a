#include "ctl/CommandLine.h"

#include "discovery/DiscoveryRequest.h"
#include "link/AddressValidation.h"
#include "link/Protocol.h"

#include <QString>
#include <QUrl>

#include <algorithm>
#include <array>
#include <charconv>
#include <string>
#include <string_view>

// Our own reader rather than QCommandLineParser: that one tells what is wrong
// only in its own sentences, and reads "-json" as "-j -s -o -n".
namespace lumacast::ctl {
namespace {

using namespace std::string_literals;
using Kind = Parsed::Kind;

constexpr std::chrono::milliseconds LongestSeconds{3600 * 1000};
constexpr std::chrono::milliseconds LongestWindow{600 * 1000};

// The inputs as the help and the messages name them, from the protocol's count.
const std::string InputRange = "1.." + std::to_string(InputCount);
const std::string InputWords = "1 to " + std::to_string(InputCount);

// Seconds as a decimal with at most three places: "5", "0.5", "2.25".
std::optional<std::chrono::milliseconds> ReadSeconds(std::string_view text)
{
    const auto dot = text.find('.');
    const std::string_view whole = text.substr(0, dot);
    const std::string_view fraction =
        dot == std::string_view::npos ? std::string_view{} : text.substr(dot + 1);
    if (whole.empty() || whole.size() > 5 || (dot != std::string_view::npos && fraction.empty()) ||
        fraction.size() > 3)
        return std::nullopt;
    long long ms = 0;
    for (char c : whole) {
        if (c < '0' || c > '9')
            return std::nullopt;
        ms = ms * 10 + (c - '0');
    }
    ms *= 1000;
    long long scale = 100;
    for (char c : fraction) {
        if (c < '0' || c > '9')
            return std::nullopt;
        ms += (c - '0') * scale;
        scale /= 10;
    }
    return std::chrono::milliseconds(ms);
}

std::optional<long long> ReadCount(std::string_view text)
{
    long long value = 0;
    if (text.empty() || text.size() > 9)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

// A broker the service can be reached at: mqtt:// or mqtts://, with a host.
bool IsBrokerUrl(std::string_view text)
{
    const QUrl url(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QUrl::StrictMode);
    return url.isValid() && (url.scheme() == "mqtt" || url.scheme() == "mqtts") && !url.host().isEmpty() &&
        url.port() != 0;
}

// What a value option makes of its value: empty when it took it, else the problem.
using ReadValue = std::string (*)(std::string_view name, const std::string &value, Options &options);

std::string ReadConnectTimeout(std::string_view name, const std::string &value, Options &options);
std::string ReadWait(std::string_view name, const std::string &value, Options &options);
std::string ReadWindow(std::string_view name, const std::string &value, Options &options);
std::string ReadBroker(std::string_view name, const std::string &value, Options &options);
std::string ReadBase(std::string_view name, const std::string &value, Options &options);

enum class Opt { All, Json, Timeout, Wait, WaitMs, Once, Broker, Base, Help, Version };

struct OptionRow {
    Opt id;
    const char *name;
    const char *alias; // nullptr when it has none
    const char *value; // the value's name in the help; nullptr for a switch
    bool Options::*flag; // what a switch turns on, if anything
    ReadValue read; // what a value option does with its value
    std::string help; // its lines in the general help
};

constexpr std::size_t OptionCount = 10;
const std::array<OptionRow, OptionCount> OptionTable{{
    {Opt::All, "--all", nullptr, nullptr, &Options::all, nullptr,
     "discover first, then every device that answered"},
    {Opt::Json, "--json", nullptr, nullptr, &Options::json, nullptr,
     "one JSON document instead of the table; with watch, a JSON\nobject a line"},
    {Opt::Timeout, "--timeout", nullptr, "S", nullptr, ReadConnectTimeout,
     "give up a connect after S seconds (default 5)"},
    {Opt::Wait, "--wait", nullptr, "S", nullptr, ReadWait,
     "after a command, poll until the device reports that state,\nfor at most S seconds"},
    {Opt::WaitMs, "--wait-ms", nullptr, "N", nullptr, ReadWindow,
     "collect discovery answers for N ms (default and least " + std::to_string(DiscoveryWindowMs) + ")"},
    {Opt::Once, "--once", nullptr, nullptr, &Options::once, nullptr,
     "watch: end when every device has ended instead of trying again"},
    {Opt::Broker, "--broker", nullptr, "URL", nullptr, ReadBroker,
     "go through the lumacast2d service, whose MQTT broker is at URL\n"
     "(mqtt:// or mqtts://), instead of taking the device's\n"
     "connection; default $LUMACAST2_BROKER, when set; not for find"},
    {Opt::Base, "--base", nullptr, "TOPIC", nullptr, ReadBase,
     "with a broker: the service's topics begin with TOPIC\n(default lumacast2)"},
    {Opt::Help, "--help", "-h", nullptr, nullptr, nullptr, "this text; COMMAND --help tells of one command"},
    {Opt::Version, "--version", nullptr, nullptr, nullptr, nullptr, "the version"},
}};

const OptionRow &RowOf(Opt id)
{
    return *std::find_if(OptionTable.begin(), OptionTable.end(),
                         [id](const OptionRow &o) { return o.id == id; });
}

std::string SecondsProblem(std::string_view name, const std::string &value,
                           std::optional<std::chrono::milliseconds> &seconds)
{
    seconds = ReadSeconds(value);
    if (seconds && seconds->count() > 0 && *seconds <= LongestSeconds)
        return {};
    seconds.reset();
    return std::string(name) + " needs seconds above 0 and up to 3600, not '" + value + "'";
}

std::string ReadConnectTimeout(std::string_view name, const std::string &value, Options &options)
{
    std::optional<std::chrono::milliseconds> seconds;
    std::string problem = SecondsProblem(name, value, seconds);
    if (seconds)
        options.timeout = *seconds;
    return problem;
}

std::string ReadWait(std::string_view name, const std::string &value, Options &options)
{
    return SecondsProblem(name, value, options.wait);
}

std::string ReadWindow(std::string_view name, const std::string &value, Options &options)
{
    const auto ms = ReadCount(value);
    if (!ms || *ms < DiscoveryWindowMs || *ms > LongestWindow.count())
        return std::string(name) + " needs milliseconds from " + std::to_string(DiscoveryWindowMs) +
            " up to " + std::to_string(LongestWindow.count()) + ", not '" + value + "'";
    options.discoveryWindow = std::chrono::milliseconds(*ms);
    return {};
}

std::string BrokerProblem(std::string_view source, const std::string &value)
{
    return std::string(source) + " needs an mqtt:// or mqtts:// URL with a host, not '" + value + "'";
}

std::string ReadBroker(std::string_view name, const std::string &value, Options &options)
{
    if (!IsBrokerUrl(value))
        return BrokerProblem(name, value);
    options.broker = value;
    return {};
}

// A topic the service's topics can begin with: no wildcard, no control character.
std::string ReadBase(std::string_view name, const std::string &value, Options &options)
{
    const bool plain = !value.empty() && std::none_of(value.begin(), value.end(), [](char c) {
        return c == '+' || c == '#' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
    });
    if (!plain)
        return std::string(name) + " needs a topic without + or #, not '" + value + "'";
    options.base = value;
    return {};
}

const char *const Connection = "A device serves one connection at a time: a command can take the\n"
                               "connection of a panel that watches the same device. A device the\n"
                               "service lumacast2d watches is held by it: use --broker to go through\n"
                               "the service instead of taking its connection.\n";

const char *const Exits = "Exit status: 0 when every device answered, 1 when any failed (each failure\n"
                          "is named on standard error), 2 for a wrong command line.\n";

const char *const WatchExits = "Exit status: 0 when SIGINT or SIGTERM ended it; with --once, 0 when every\n"
                               "device ended without a fault and 1 when any ended for one; 1 when --all\n"
                               "found no device; 2 for a wrong command line.\n";

enum class Operand { None, OnOff, Input };

// The message for an option a command does not take, where "X takes no Y" says too little.
struct Refusal {
    Opt option;
    const char *message;
};

struct CommandRow {
    const char *name;
    Command command;
    Operand operand;
    char PendingCommands::*slot; // where the operand goes
    bool targets; // takes TARGET... or --all
    std::vector<Opt> options; // beyond --all and --help, in the order its usage names them
    std::string summary; // its line in the general help
    std::string about; // what COMMAND --help tells after the usage
    std::vector<Refusal> refusals;
};

const std::vector<Opt> Commanding{Opt::Wait, Opt::Timeout, Opt::Json, Opt::WaitMs, Opt::Broker, Opt::Base};

// The help of power, lamp and mute.
const std::string SwitchHelp = "Sends one frame that carries the command, then prints the state the device\n"
                               "reports. With --wait, polls until the device reports that state (power\n"
                               "changing counts as on the way) for at most S seconds.\n\n"s +
    Connection + Exits;

// clang-format off
const std::vector<CommandRow> CommandTable{
    {"find", Command::Find, Operand::None, nullptr, false, {Opt::WaitMs, Opt::Json},
     "list the devices that answer a discovery, one a line",
     "Broadcasts one discovery request from UDP port " + std::to_string(DiscoveryLocalPort) +
         " to 255.255.255.255\nport " + std::to_string(DiscoveryRemotePort) +
         " and lists every sender that answers within " + std::to_string(DiscoveryWindowMs) +
         " ms (or N ms),\nonce each, in the order they answered. Port " + std::to_string(DiscoveryLocalPort) +
         " must be free: a panel\nrunning on this machine holds it.\n\n" + Exits,
     {{Opt::All, "find takes no --all: it lists every device itself"},
      {Opt::Timeout, "find makes no connection, so takes no --timeout"}}},
    {"status", Command::Status, Operand::None, nullptr, true,
     {Opt::Timeout, Opt::Json, Opt::WaitMs, Opt::Broker, Opt::Base},
     "print power, lamp, mute and input of each device",
     "Connects to each device, sends one frame without a command and prints the\n"
     "state it reports: power on, changing (warming up) or off; lamp and mute on\n"
     "or off; input " + InputWords + " or none.\n\n" + Connection + Exits, {}},
    {"watch", Command::Watch, Operand::None, nullptr, true,
     {Opt::Once, Opt::Json, Opt::Timeout, Opt::WaitMs, Opt::Broker, Opt::Base},
     "print each change of each device as it happens",
     "Keeps a connection to each device open for ever and prints each change as\n"
     "it happens: a table line for people; with --json one JSON object a line\n"
     "(JSON Lines) with \"time\" (ISO 8601 in UTC, to the millisecond), \"address\"\n"
     "and \"event\": \"connected\"; \"state\" with the fields of status --json (power,\n"
     "lamp, mute, input, raw); or \"ended\" with the reason as \"error\".\n"
     "A lost device is tried again for ever: after 1 s, doubling up to 30 s, each\n"
     "pause jittered. With --once, a device that ended is not tried again, and the\n"
     "watch ends when every device has ended. SIGINT and SIGTERM end it. --all\n"
     "discovers once, at the start.\n\n"s + Connection + WatchExits, {}},
    {"power", Command::Power, Operand::OnOff, &PendingCommands::PowerCmd, true, Commanding,
     "switch the power, then print the state", SwitchHelp, {}},
    {"lamp", Command::Lamp, Operand::OnOff, &PendingCommands::LampCmd, true, Commanding,
     "switch the lamp, then print the state", SwitchHelp, {}},
    {"mute", Command::Mute, Operand::OnOff, &PendingCommands::MuteCmd, true, Commanding,
     "switch mute, then print the state", SwitchHelp, {}},
    {"input", Command::Input, Operand::Input, &PendingCommands::InpSelCmd, true, Commanding,
     "select that input, then print the state",
     "Sends one frame that selects the input, then prints the state the device\n"
     "reports. With --wait, polls until the device reports that input for at\n"
     "most S seconds.\n\n"s + Connection + Exits, {}},
};
// clang-format on

const CommandRow *FindCommand(std::string_view name)
{
    const auto row = std::find_if(CommandTable.begin(), CommandTable.end(),
                                  [name](const CommandRow &c) { return name == c.name; });
    return row == CommandTable.end() ? nullptr : &*row;
}

bool Takes(const CommandRow &c, Opt id)
{
    return id == Opt::Help || id == Opt::Version || (id == Opt::All && c.targets) ||
        std::find(c.options.begin(), c.options.end(), id) != c.options.end();
}

std::string OperandText(const CommandRow &c)
{
    return c.operand == Operand::OnOff ? "on|off" : c.operand == Operand::Input ? InputRange : "";
}

std::string UsageOf(const OptionRow &o)
{
    return o.value == nullptr ? o.name : o.name + " "s + o.value;
}

// Words after `lead`, wrapped before column 80, continued under the first word.
std::string Wrap(const std::string &lead, const std::vector<std::string> &words)
{
    std::string text = lead;
    std::size_t column = lead.size();
    for (const auto &w : words) {
        if (column + 1 + w.size() >= 80) {
            text += '\n' + std::string(8, ' ') + w;
            column = 8 + w.size();
        } else {
            text += ' ' + w;
            column += 1 + w.size();
        }
    }
    return text + '\n';
}

std::string CommandHelp(const CommandRow &c)
{
    std::vector<std::string> words;
    if (c.operand != Operand::None)
        words.push_back(OperandText(c));
    if (c.targets)
        words.emplace_back("TARGET...|--all");
    for (Opt id : c.options)
        words.push_back("[" + UsageOf(RowOf(id)) + "]");
    return Wrap("Usage: lumacast2-ctl "s + c.name, words) + c.about;
}

// `left` in a column of `width`, then the lines of `right` beside it.
std::string Columns(const std::string &left, std::size_t width, const std::string &right)
{
    std::string text = "  " + left;
    const std::string indent(2 + width, ' ');
    text += left.size() < width ? std::string(width - left.size(), ' ') : '\n' + indent;
    for (char ch : right)
        text += ch == '\n' ? '\n' + indent : std::string(1, ch);
    return text + '\n';
}

std::string GeneralHelp()
{
    std::string text = "Usage: lumacast2-ctl COMMAND [TARGET...] [OPTION...]\n"
                       "Control and watch RK-DX420 devices from scripts.\n"
                       "\n"
                       "Commands:\n";
    for (const auto &c : CommandTable) {
        std::string synopsis = c.name;
        if (c.operand != Operand::None)
            synopsis += " " + OperandText(c);
        if (c.targets)
            synopsis += " TARGET...";
        text += Columns(synopsis, 21, c.summary);
    }
    text += "\n"
            "Targets: IPv4 addresses (192.0.2.10), host names, or --all for every device\n"
            "that answers a discovery. Devices are handled side by side.\n"
            "\n"
            "Options:\n";
    for (const auto &o : OptionTable)
        text += Columns(o.alias == nullptr ? UsageOf(o) : o.alias + ", "s + UsageOf(o), 15, o.help);
    return text + "\n" + Connection + Exits;
}

Parsed Usage(std::string message)
{
    Parsed parsed;
    parsed.kind = Kind::UsageError;
    parsed.text = std::move(message) + "\nTry 'lumacast2-ctl --help'.";
    return parsed;
}

const OptionRow *FindOption(std::string_view name)
{
    const auto row = std::find_if(OptionTable.begin(), OptionTable.end(), [name](const OptionRow &o) {
        return name == o.name || (o.alias != nullptr && name == o.alias);
    });
    return row == OptionTable.end() ? nullptr : &*row;
}

// The operand's slot filled from `what`, or the problem.
std::string ReadOperand(const CommandRow &c, const std::string &what, PendingCommands &pending)
{
    if (c.operand == Operand::Input) {
        if (what.size() == 1 && what[0] >= '1' && what[0] < '1' + InputCount) {
            pending.*c.slot = what[0];
            return {};
        }
        return what.empty() ? "input needs an input from " + InputWords
                            : "input needs an input from " + InputWords + ", not '" + what + "'";
    }
    if (what == "on" || what == "off") {
        pending.*c.slot = what == "on" ? '1' : '0';
        return {};
    }
    return c.name + " needs on or off"s + (what.empty() ? std::string() : ", not '" + what + "'");
}

} // namespace

Parsed ParseCommandLine(const std::vector<std::string> &args, std::string_view brokerVariable)
{
    Parsed parsed;
    Options &options = parsed.options;
    options.discoveryWindow = std::chrono::milliseconds(DiscoveryWindowMs);
    std::array<bool, OptionCount> given{};
    std::vector<std::string> positionals;
    std::string problem; // the first one found, in the order given

    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string &arg = args[i];
        if (arg == "--") {
            positionals.insert(positionals.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                               args.end());
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            positionals.push_back(arg);
            continue;
        }
        const auto equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const OptionRow *o = FindOption(name);
        std::string trouble;
        if (o == nullptr) {
            trouble = "unknown option '" + arg + "'";
        } else if (o->value == nullptr) {
            if (equals != std::string::npos)
                trouble = name + " takes no value";
            else if (o->flag != nullptr)
                options.*o->flag = true;
        } else {
            std::string value;
            if (equals != std::string::npos)
                value = arg.substr(equals + 1);
            else if (i + 1 < args.size())
                value = args[++i];
            else
                trouble = name + " needs a value";
            if (trouble.empty() && given[static_cast<std::size_t>(o->id)])
                trouble = name + " is given twice";
            else if (trouble.empty())
                trouble = o->read(name, value, options);
        }
        if (trouble.empty())
            given[static_cast<std::size_t>(o->id)] = true;
        else if (problem.empty())
            problem = std::move(trouble);
    }
    const auto was = [&given](Opt id) { return given[static_cast<std::size_t>(id)]; };

    const CommandRow *command = positionals.empty() ? nullptr : FindCommand(positionals.front());
    if (was(Opt::Help)) {
        parsed.kind = Kind::Help;
        parsed.text = command != nullptr ? CommandHelp(*command) : GeneralHelp();
        return parsed;
    }
    if (was(Opt::Version)) {
        parsed.kind = Kind::Version;
        return parsed;
    }
    if (!problem.empty())
        return Usage(problem);
    if (positionals.empty())
        return Usage("no command given");
    if (command == nullptr)
        return Usage("unknown command '" + positionals.front() + "'");
    options.command = command->command;

    std::size_t next = 1;
    if (command->operand != Operand::None) {
        const std::string wrong = ReadOperand(
            *command, next < positionals.size() ? positionals[next] : std::string(), options.pending);
        if (!wrong.empty())
            return Usage(wrong);
        ++next;
    }
    for (; next < positionals.size(); ++next) {
        if (!IsTargetText(positionals[next]))
            return Usage("not an address or host name: '" + positionals[next] + "'");
        options.targets.push_back(positionals[next]);
    }

    if (!command->targets && !options.targets.empty())
        return Usage(command->name + " takes no targets"s);
    for (const auto &o : OptionTable) {
        if (!was(o.id) || Takes(*command, o.id))
            continue;
        for (const auto &r : command->refusals)
            if (r.option == o.id)
                return Usage(r.message);
        return Usage(command->name + " takes no "s + o.name);
    }
    if (command->targets) {
        if (options.targets.empty() && !options.all)
            return Usage(command->name + " needs a target or --all"s);
        if (!options.targets.empty() && options.all)
            return Usage("give targets or --all, not both");
        if (was(Opt::WaitMs) && !options.all)
            return Usage("--wait-ms is for find and --all");
    }
    if (!was(Opt::Broker) && !brokerVariable.empty() && Takes(*command, Opt::Broker)) {
        if (!IsBrokerUrl(brokerVariable))
            return Usage(BrokerProblem(BrokerVariable, std::string(brokerVariable)));
        options.broker = std::string(brokerVariable);
    }
    if (was(Opt::Base) && !options.broker)
        return Usage("--base needs a broker: --broker or "s + BrokerVariable);
    return parsed;
}

std::vector<std::pair<std::string, std::vector<std::string>>> CommandOptionNames()
{
    std::vector<std::pair<std::string, std::vector<std::string>>> names{{"", {"--help", "--version"}}};
    for (const auto &c : CommandTable) {
        auto &[name, options] = names.emplace_back(c.name, std::vector<std::string>{});
        for (const auto &o : OptionTable)
            if (Takes(c, o.id) && o.id != Opt::Version)
                options.emplace_back(o.name);
    }
    return names;
}

std::vector<std::string> ValueOptionNames()
{
    std::vector<std::string> names;
    for (const auto &o : OptionTable)
        if (o.value != nullptr)
            names.emplace_back(o.name);
    return names;
}

} // namespace lumacast::ctl
