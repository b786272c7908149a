#include "ctl/CommandLine.h"

#include "discovery/DiscoveryRequest.h"
#include "link/AddressValidation.h"
#include "link/Protocol.h"

#include <QString>

#include <array>
#include <charconv>
#include <string>
#include <string_view>

namespace lumacast::ctl {
namespace {

using namespace std::string_literals;
using Kind = Parsed::Kind;

constexpr std::chrono::milliseconds LongestSeconds{3600 * 1000};
constexpr std::chrono::milliseconds LongestWindow{600 * 1000};

struct CommandName {
    const char *name;
    Command command;
};
constexpr std::array<CommandName, 6> Commands{{
    {"find", Command::Find},
    {"status", Command::Status},
    {"power", Command::Power},
    {"lamp", Command::Lamp},
    {"mute", Command::Mute},
    {"input", Command::Input},
}};

// False when no command has that name.
bool FindCommand(std::string_view name, Command &command)
{
    for (const auto &c : Commands)
        if (name == c.name) {
            command = c.command;
            return true;
        }
    return false;
}

const char *NameOf(Command command)
{
    for (const auto &c : Commands)
        if (command == c.command)
            return c.name;
    return "";
}

const char *const Connection = "A device serves one connection at a time: a command can take the\n"
                               "connection of a panel that watches the same device.\n";

// The inputs as the help and the messages name them, from the protocol's count.
const std::string InputRange = "1.." + std::to_string(InputCount);
const std::string InputWords = "1 to " + std::to_string(InputCount);

const char *const Exits = "Exit status: 0 when every device answered, 1 when any failed (each failure\n"
                          "is named on standard error), 2 for a wrong command line.\n";

std::string GeneralHelp()
{
    return "Usage: lumacast2-ctl COMMAND [TARGET...] [OPTION...]\n"
           "Control and watch RK-DX420 devices from scripts.\n"
           "\n"
           "Commands:\n"
           "  find                 list the devices that answer a discovery, one a line\n"
           "  status TARGET...     print power, lamp, mute and input of each device\n"
           "  power on|off TARGET...\n"
           "  lamp on|off TARGET...\n"
           "  mute on|off TARGET...\n"
           "  input "s +
        InputRange +
        " TARGET... send that one command, then print the state\n"
        "\n"
        "Targets: IPv4 addresses (192.0.2.10), host names, or --all for every device\n"
        "that answers a discovery. Devices are handled side by side.\n"
        "\n"
        "Options:\n"
        "  --all          discover first, then every device that answered\n"
        "  --json         one JSON document instead of the table\n"
        "  --timeout S    give up a connect after S seconds (default 5)\n"
        "  --wait S       after a command, poll until the device reports that state,\n"
        "                 for at most S seconds\n"
        "  --wait-ms N    collect discovery answers for N ms (default and least " +
        std::to_string(DiscoveryWindowMs) +
        ")\n"
        "  --help         this text; COMMAND --help tells of one command\n"
        "  --version      the version\n"
        "\n" +
        Connection + Exits;
}

std::string CommandHelp(Command command)
{
    switch (command) {
    case Command::Find:
        return "Usage: lumacast2-ctl find [--wait-ms N] [--json]\n"
               "Broadcasts one discovery request from UDP port "s +
            std::to_string(DiscoveryLocalPort) + " to 255.255.255.255\nport " +
            std::to_string(DiscoveryRemotePort) + " and lists every sender that answers within " +
            std::to_string(DiscoveryWindowMs) +
            " ms (or N ms),\nonce each, in the order they answered. Port " +
            std::to_string(DiscoveryLocalPort) +
            " must be free: a panel\nrunning on this machine holds it.\n\n" + Exits;
    case Command::Status:
        return "Usage: lumacast2-ctl status TARGET...|--all [--timeout S] [--json]\n"
               "Connects to each device, sends one frame without a command and prints the\n"
               "state it reports: power on, changing (warming up) or off; lamp and mute on\n"
               "or off; input "s +
            InputWords + " or none.\n\n" + Connection + Exits;
    case Command::Power:
    case Command::Lamp:
    case Command::Mute:
        return "Usage: lumacast2-ctl "s + NameOf(command) +
            " on|off TARGET...|--all [--wait S] [--timeout S] [--json]\n"
            "Sends one frame that carries the command, then prints the state the device\n"
            "reports. With --wait, polls until the device reports that state (power\n"
            "changing counts as on the way) for at most S seconds.\n"
            "\n" +
            Connection + Exits;
    case Command::Input:
        return "Usage: lumacast2-ctl input "s + InputRange +
            " TARGET...|--all [--wait S] [--timeout S] [--json]\n"
            "Sends one frame that selects the input, then prints the state the device\n"
            "reports. With --wait, polls until the device reports that input for at\n"
            "most S seconds.\n"
            "\n" +
            Connection + Exits;
    }
    return GeneralHelp();
}

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

Parsed Usage(std::string message)
{
    Parsed parsed;
    parsed.kind = Kind::UsageError;
    parsed.text = std::move(message) + "\nTry 'lumacast2-ctl --help'.";
    return parsed;
}

bool Commanding(Command c)
{
    return c == Command::Power || c == Command::Lamp || c == Command::Mute || c == Command::Input;
}

} // namespace

Parsed ParseCommandLine(const std::vector<std::string> &args)
{
    Parsed parsed;
    Options &options = parsed.options;
    options.discoveryWindow = std::chrono::milliseconds(DiscoveryWindowMs);
    bool help = false;
    bool version = false;
    bool timeoutGiven = false;
    bool windowGiven = false;
    std::vector<std::string> positionals;
    std::string problem;

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
        std::optional<std::string> value;
        if (equals != std::string::npos)
            value = arg.substr(equals + 1);
        const bool takesValue = name == "--timeout" || name == "--wait" || name == "--wait-ms";
        if (!takesValue && value) {
            if (problem.empty())
                problem = name + " takes no value";
            continue;
        }
        if (takesValue && !value) {
            if (i + 1 >= args.size()) {
                if (problem.empty())
                    problem = name + " needs a value";
                continue;
            }
            value = args[++i];
        }
        if (name == "--help" || name == "-h") {
            help = true;
        } else if (name == "--version") {
            version = true;
        } else if (name == "--json") {
            options.json = true;
        } else if (name == "--all") {
            options.all = true;
        } else if (name == "--timeout" || name == "--wait") {
            const auto seconds = ReadSeconds(*value);
            const bool repeated = name == "--timeout" ? timeoutGiven : options.wait.has_value();
            if (problem.empty() && repeated)
                problem = name + " is given twice";
            else if (problem.empty() && (!seconds || seconds->count() == 0 || *seconds > LongestSeconds))
                problem = name + " needs seconds above 0 and up to 3600, not '" + *value + "'";
            else if (name == "--timeout")
                options.timeout = *seconds, timeoutGiven = true;
            else
                options.wait = seconds;
        } else if (name == "--wait-ms") {
            const auto ms = ReadCount(*value);
            if (problem.empty() && windowGiven)
                problem = "--wait-ms is given twice";
            else if (problem.empty() && (!ms || *ms < DiscoveryWindowMs || *ms > LongestWindow.count()))
                problem = "--wait-ms needs milliseconds from " + std::to_string(DiscoveryWindowMs) +
                    " up to " + std::to_string(LongestWindow.count()) + ", not '" + *value + "'";
            else
                options.discoveryWindow = std::chrono::milliseconds(ms.value_or(DiscoveryWindowMs)),
                windowGiven = true;
        } else if (problem.empty()) {
            problem = "unknown option '" + arg + "'";
        }
    }

    Command cmd = Command::Status;
    const bool known = !positionals.empty() && FindCommand(positionals.front(), cmd);
    if (help) {
        parsed.kind = Kind::Help;
        parsed.text = known ? CommandHelp(cmd) : GeneralHelp();
        return parsed;
    }
    if (version) {
        parsed.kind = Kind::Version;
        return parsed;
    }
    if (!problem.empty())
        return Usage(problem);
    if (positionals.empty())
        return Usage("no command given");
    if (!known)
        return Usage("unknown command '" + positionals.front() + "'");
    options.command = cmd;

    std::size_t next = 1;
    if (Commanding(cmd)) {
        const std::string what = next < positionals.size() ? positionals[next] : std::string();
        char slot = 0;
        if (cmd == Command::Input) {
            if (what.size() == 1 && what[0] >= '1' && what[0] < '1' + InputCount)
                slot = what[0];
            else
                return Usage(what.empty()
                                 ? "input needs an input from " + InputWords
                                 : "input needs an input from " + InputWords + ", not '" + what + "'");
            options.pending.InpSelCmd = slot;
        } else {
            if (what == "on" || what == "off")
                slot = what == "on" ? '1' : '0';
            else
                return Usage(std::string(NameOf(cmd)) + " needs on or off" +
                             (what.empty() ? std::string() : ", not '" + what + "'"));
            (cmd == Command::Power      ? options.pending.PowerCmd
                 : cmd == Command::Lamp ? options.pending.LampCmd
                                        : options.pending.MuteCmd) = slot;
        }
        ++next;
    }
    for (; next < positionals.size(); ++next) {
        if (!IsTargetText(positionals[next]))
            return Usage("not an address or host name: '" + positionals[next] + "'");
        options.targets.push_back(positionals[next]);
    }

    if (cmd == Command::Find) {
        if (!options.targets.empty())
            return Usage("find takes no targets");
        if (options.all)
            return Usage("find takes no --all: it lists every device itself");
        if (timeoutGiven)
            return Usage("find makes no connection, so takes no --timeout");
    } else {
        if (options.targets.empty() && !options.all)
            return Usage(std::string(NameOf(cmd)) + " needs a target or --all");
        if (!options.targets.empty() && options.all)
            return Usage("give targets or --all, not both");
        if (windowGiven && !options.all)
            return Usage("--wait-ms is for find and --all");
    }
    if (options.wait && !Commanding(cmd))
        return Usage(std::string(NameOf(cmd)) + " takes no --wait");
    return parsed;
}

} // namespace lumacast::ctl
