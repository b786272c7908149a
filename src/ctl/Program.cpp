#include "ctl/Program.h"

#include "ProgramInfo.h"
#include "ctl/Find.h"
#include "ctl/Report.h"
#include "ctl/Targets.h"
#include "ctl/ViaService.h"
#include "ctl/Watch.h"
#include "platform/AbortSignal.h"
#include "platform/EndSignals.h"
#include "platform/OpenFileLimit.h"
#include "platform/SocketError.h"
#include "platform/StandardStreams.h"
#include "platform/Terminal.h"

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <system_error>

namespace lumacast::ctl {
namespace {

constexpr const char *Name = "lumacast2-ctl";
// Far more than the side-by-side connections need; the system's hard limit
// caps it.
constexpr std::uint64_t OpenFilesWanted = 65536;

std::string PortHeld(std::uint16_t port)
{
    return "UDP port " + std::to_string(port) +
        " is in use, most likely by a panel running on this machine; close it to discover devices";
}

std::string WindowText(std::chrono::milliseconds window)
{
    return std::to_string(window.count()) + " ms";
}

// Writes a result whole; a result that cannot be written is a failure, told
// with the system's reason, or a script would take a lost table for success.
bool Put(std::ostream &out, std::ostream &err, const std::string &text)
{
    out << text << std::flush;
    if (out)
        return true;
    const int cause = errno; // the failed write's, as the stream left it
    err << Name << ": cannot write the output: " << std::generic_category().message(cause) << '\n';
    return false;
}

} // namespace

int Run(const Options &options, const Ports &ports, std::ostream &out, std::ostream &err, bool colour,
        AbortSignal &stop)
{
    if (options.broker && options.command == Command::Watch)
        return WatchViaService(options, out, err, stop);
    std::vector<std::string> targets = options.targets;
    if (options.command == Command::Find || (options.all && !options.broker)) {
        const Found found =
            Discover(ports.discoveryLocal, ports.discoveryRemote, options.discoveryWindow, stop);
        if (found.portHeld || !found.error.empty()) {
            err << Name << ": " << (found.portHeld ? PortHeld(ports.discoveryLocal) : found.error) << '\n';
            return ExitFailed;
        }
        for (const std::string &sender : found.leftOut)
            err << Name << ": left out " << sender << '\n';
        if (stop.Signalled()) {
            err << Name << ": interrupted\n";
            return ExitFailed;
        }
        if (options.command == Command::Find) {
            if (!Put(out, err, FormatFound(found.senders, options.json)))
                return ExitFailed;
            if (found.senders.empty()) {
                err << Name << ": no device answered within " << WindowText(options.discoveryWindow) << '\n';
                return ExitFailed;
            }
            return ExitOk;
        }
        if (found.senders.empty()) {
            if (options.json && !Put(out, err, FormatJson({})))
                return ExitFailed;
            err << Name << ": no device answered within " << WindowText(options.discoveryWindow) << '\n';
            return ExitFailed;
        }
        targets = found.senders;
    }

    if (options.command == Command::Watch) {
        WatchSettings watch;
        watch.port = ports.device;
        watch.timeout = options.timeout;
        watch.json = options.json;
        watch.once = options.once;
        return RunWatch(targets, watch, out, err, stop);
    }

    Exchange exchange;
    exchange.port = ports.device;
    exchange.timeout = options.timeout;
    exchange.pending = options.pending;
    exchange.wait = options.wait;
    if (options.command != Command::Status)
        exchange.reached = GoalOf(options.pending);
    std::vector<TargetResult> results;
    if (options.broker) {
        auto heard = ServiceTargets(options, err, stop);
        if (!heard)
            return ExitFailed;
        results = std::move(*heard);
    } else {
        results = RunTargets(targets, exchange, stop);
    }

    bool allOk = Put(out, err, options.json ? FormatJson(results) : FormatTable(results, colour));
    for (const auto &r : results) {
        if (r.Ok())
            continue;
        allOk = false;
        err << Name << ": " << r.address << ": " << r.error << '\n';
    }
    return allOk ? ExitOk : ExitFailed;
}

int Main(const std::vector<std::string> &args)
{
    // First, before any descriptor is opened.
    HoldClosedStandardStreams();
    const char *broker = std::getenv(BrokerVariable);
    const Parsed parsed = ParseCommandLine(args, broker != nullptr ? broker : "");
    switch (parsed.kind) {
    case Parsed::Kind::Help:
        return Put(std::cout, std::cerr, parsed.text) ? ExitOk : ExitFailed;
    case Parsed::Kind::Version:
        return Put(std::cout, std::cerr, std::string(Name) + ' ' + LC_PROGRAM_VERSION + '\n') ? ExitOk
                                                                                              : ExitFailed;
    case Parsed::Kind::UsageError:
        std::cerr << Name << ": " << parsed.text << '\n';
        return ExitUsage;
    case Parsed::Kind::Run:
        break;
    }

    // As many targets as the limit allows hold a connection side by side.
    RaiseOpenFileLimit(OpenFilesWanted);
    try {
        // Before any thread exists, so that only the watcher sees them.
        BlockEndSignals();
        AbortSignal stop;
        EndSignalThread signals([&stop] { stop.Signal(); });
        const char *noColour = std::getenv("NO_COLOR");
        const bool colour = IsTerminal(StandardStream::Output) && (noColour == nullptr || *noColour == '\0');
        return Run(parsed.options, Ports{}, std::cout, std::cerr, colour, stop);
    } catch (const SocketError &e) {
        // The socket layer's own message is the panel's, in Japanese.
        std::cerr << Name << ": " << std::generic_category().message(e.ErrorNumber()) << '\n';
        return ExitFailed;
    } catch (const std::exception &e) {
        std::cerr << Name << ": " << e.what() << '\n';
        return ExitFailed;
    }
}

} // namespace lumacast::ctl
