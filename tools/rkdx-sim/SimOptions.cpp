#include "SimOptions.h"

#include <algorithm>
#include <arpa/inet.h>
#include <charconv>
#include <netinet/in.h>

namespace lumacast::sim {
namespace {

std::optional<long long> ReadNumber(std::string_view text, long long min, long long max)
{
    long long value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<std::uint32_t> ReadAddress(std::string_view text)
{
    in_addr address{};
    if (::inet_pton(AF_INET, std::string(text).c_str(), &address) != 1)
        return std::nullopt;
    return ntohl(address.s_addr);
}

std::string AddressText(std::uint32_t address)
{
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
        std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

// "A,B-C,...": single addresses and inclusive ranges, each address once,
// none of them the wildcard or the broadcast address.
std::optional<std::vector<std::string>> ReadDevices(std::string_view text)
{
    std::vector<std::uint32_t> addresses;
    while (true) {
        const auto comma = text.find(',');
        const std::string_view item = text.substr(0, comma);
        const auto dash = item.find('-');
        const auto first = ReadAddress(item.substr(0, dash));
        const auto last = dash == std::string_view::npos ? first : ReadAddress(item.substr(dash + 1));
        if (!first || !last || *last < *first || *last - *first >= MaxDevices)
            return std::nullopt;
        for (std::uint32_t a = *first;; ++a) {
            if (a == 0 || a == 0xFFFFFFFF || addresses.size() == MaxDevices ||
                std::find(addresses.begin(), addresses.end(), a) != addresses.end())
                return std::nullopt;
            addresses.push_back(a);
            if (a == *last)
                break;
        }
        if (comma == std::string_view::npos)
            break;
        text.remove_prefix(comma + 1);
    }
    std::vector<std::string> out;
    out.reserve(addresses.size());
    for (const auto a : addresses)
        out.push_back(AddressText(a));
    return out;
}

} // namespace

ParsedOptions ParseOptions(const std::vector<std::string_view> &args)
{
    SimOptions o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = name.find('='); name.starts_with("--") && eq != std::string_view::npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const std::string shown(name);
        // The value of an option that needs one: inline or the next argument.
        auto value = [&]() -> std::optional<std::string_view> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        auto number = [&](long long min, long long max) -> std::optional<long long> {
            const auto text = value();
            return text ? ReadNumber(*text, min, max) : std::nullopt;
        };
        auto bad = [&](const std::string &why) { return ParsedOptions{std::nullopt, shown + ": " += why}; };

        if (name == "--help" || name == "-h") {
            o.help = true;
        } else if (name == "--port" || name == "--discovery-port") {
            const auto n = number(0, 65535);
            if (!n)
                return bad("needs a port number from 0 to 65535");
            (name == "--port" ? o.port : o.discoveryPort) = static_cast<std::uint16_t>(*n);
        } else if (name == "--bind") {
            const auto text = value();
            in_addr address{};
            if (!text || ::inet_pton(AF_INET, std::string(*text).c_str(), &address) != 1)
                return bad("needs a dotted IPv4 address");
            o.bind = std::string(*text);
        } else if (name == "--devices") {
            const auto text = value();
            const auto devices = text ? ReadDevices(*text) : std::nullopt;
            if (!devices)
                return bad("needs IPv4 addresses and ranges (A,B-C), each once, at most " +
                           std::to_string(MaxDevices));
            o.devices = *devices;
        } else if (name == "--discovery-answer") {
            const auto text = value();
            if (!text || text->empty() || text->size() > 1024)
                return bad("needs a text of 1 to 1024 bytes");
            o.discoveryAnswer = std::string(*text);
        } else if (name == "--warmup-ms" || name == "--delay-ms" || name == "--split-gap-ms") {
            const auto n = number(0, 3'600'000);
            if (!n)
                return bad("needs milliseconds from 0 to 3600000");
            (name == "--warmup-ms" ? o.warmUp : name == "--delay-ms" ? o.delay : o.splitGap) = Millis(*n);
        } else if (name == "--close-after" || name == "--reset-after") {
            const auto n = number(1, 1'000'000'000);
            if (!n)
                return bad("needs a frame count of at least 1");
            (name == "--close-after" ? o.closeAfter : o.resetAfter) = static_cast<int>(*n);
        } else if (name == "--bad-length") {
            // Optional value, inline only, so that a following option is not taken for it.
            if (inlineValue) {
                const auto n = ReadNumber(*inlineValue, 1, 4096);
                if (!n || *n == static_cast<long long>(ReplyLength))
                    return bad("needs a length from 1 to 4096 other than 12");
                o.fault.length = static_cast<int>(*n);
            } else {
                o.fault.length = static_cast<int>(ReplyLength) + 1;
            }
        } else if (name == "--stream") {
            // Optional value, inline only, as for --bad-length.
            if (inlineValue) {
                const auto n = ReadNumber(*inlineValue, 1, 1LL << 50);
                if (!n)
                    return bad("needs a byte count of at least 1");
                o.streamLimit = static_cast<std::size_t>(*n);
            }
            o.stream = true;
        } else if (name == "--silent" || name == "--split" || name == "--bad-header" ||
                   name == "--no-discovery" || name == "--refuse" || name == "--stall" ||
                   name == "--never-read") {
            if (inlineValue)
                return bad("takes no value");
            if (name == "--silent")
                o.silent = true;
            else if (name == "--split")
                o.split = true;
            else if (name == "--bad-header")
                o.fault.badHeader = true;
            else if (name == "--no-discovery")
                o.noDiscovery = true;
            else if (name == "--refuse")
                o.refuse = true;
            else if (name == "--stall")
                o.stall = true;
            else
                o.neverRead = true;
        } else {
            return bad("unknown option (see --help)");
        }
    }
    if (o.closeAfter > 0 && o.resetAfter > 0)
        return {std::nullopt, "--close-after and --reset-after exclude each other"};
    if (!o.devices.empty() && o.bind != "0.0.0.0")
        return {std::nullopt, "--devices and --bind exclude each other"};
    if (int(o.refuse) + int(o.stall) + int(o.neverRead) + int(o.stream) > 1)
        return {std::nullopt, "--refuse, --stall, --never-read and --stream exclude each other"};
    return {o, {}};
}

std::string HelpText(std::string_view program)
{
    std::string text = "Usage: ";
    text += program;
    text += R"( [options]

Behaves like an RK-DX420: a TCP control port that answers every command frame
("@C1" + 5 characters + CR) with a 12-byte status reply ("@c1" + power, lamp,
mute, input + "00000"), and a discovery responder on UDP that answers every
datagram to its sender. Every frame received and every reply sent is printed
on stdout with the seconds since start, in hex.

Run it inside a private network namespace (see docs/simulator.md).

The control port serves one connection at a time: a new connection replaces
the current one, which is closed. The state (power, lamp, mute, input) lives
as long as the program; frame counts for --close-after/--reset-after start
again with each connection.

Listening:
  --port N              TCP control port (default 50000; 0: any free port)
  --bind ADDR           IPv4 address to listen on, TCP and UDP (default 0.0.0.0;
                        a broadcast reaches the discovery responder only when
                        it is bound to 0.0.0.0)
  --discovery-port N    UDP discovery port (default 54321; 0: any free port)
  --discovery-answer T  the datagram sent back to a discovery (default RK-DX420)
  --refuse              bind the control port but do not listen: connections
                        are refused
  --stall               listen with a full accept queue and never accept:
                        connections stay pending until the peer gives up
  --no-discovery        do not answer discoveries (no UDP socket is opened)
  --devices LIST        one device on each address of LIST (A,B,C or A-B,
                        e.g. 192.0.2.10-192.0.2.59), each with its own state
                        and connection and the same options, all in this
                        process; each answers a discovery that reaches the
                        wildcard address or its own, from its own address;
                        log lines name the device after the seconds

Device:
  --warmup-ms N         time for which power reads 2 (warming up) after
                        power on, before it reads 1 (default 3000)

Faults:
  --silent              never answer a frame
  --delay-ms N          answer each frame N ms after it arrived (default 0)
  --split               send each reply in two parts, --split-gap-ms apart
  --split-gap-ms N      gap between the two parts (default 150)
  --bad-header          reply with "@C1" instead of "@c1"
  --bad-length[=N]      reply with N bytes instead of 12: cut, or padded with
                        '0' (default 13)
  --close-after N       close the connection (orderly) once the N-th frame
                        of the connection has been handled (answered unless
                        --silent)
  --reset-after N       the same, but reset it (RST)
  --never-read          accept a connection and hold it: never read, never send
  --stream[=BYTES]      never read; send status replies padded to 64 KiB
                        without pause, up to BYTES per connection (default:
                        no end), then hold the connection

  -h, --help            this text

The log on stdout, one line per event, flushed at once:
  <seconds> frame <hex>        a well-formed frame received
  <seconds> garbage <hex>      bytes skipped while looking for "@C1"
  <seconds> reply <hex>        bytes sent (one line per part with --split)
  <seconds> discovery <addr:port> to <addr> <hex>   a datagram received and
      answered; with --devices every line names its device: <seconds> [<addr>] ...
  <seconds> connection <addr:port> closed by peer   its orderly end of stream;
      "reset by peer after its end of stream" follows within 0.5 s when the
      peer then resets it
  other lines tell of listening, connections, closes and resets.
The options --refuse, --stall, --never-read and --stream exclude each other.
SIGINT and SIGTERM end the program with exit code 0.
)";
    return text;
}

} // namespace lumacast::sim
