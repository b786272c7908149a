#include "ctl/Targets.h"

#include "link/DeviceExchange.h"
#include "platform/AbortSignal.h"
#include "platform/TcpClient.h"
#include "platform/Ticks.h"

#include <QString>

#include <atomic>
#include <cerrno>
#include <memory>
#include <system_error>
#include <thread>

namespace lumacast::ctl {
namespace {

using Clock = std::chrono::steady_clock;

// One target's connect: the watchdog cuts it at its deadline or on the stop.
struct Attempt {
    AbortSignal connectAbort;
    std::atomic<Clock::rep> deadline{0}; // 0 while no connect runs
    std::atomic<bool> timedOut{false};
};

struct Stopped { };

std::string Plain(int errorNumber)
{
    std::string text = std::generic_category().message(errorNumber);
    if (!text.empty() && text[0] >= 'A' && text[0] <= 'Z')
        text[0] = static_cast<char>(text[0] - 'A' + 'a');
    return text;
}

std::string Seconds(std::chrono::milliseconds ms)
{
    const auto whole = ms.count() / 1000;
    const auto rest = ms.count() % 1000;
    std::string text = std::to_string(whole);
    if (rest != 0) {
        std::string fraction = std::to_string(1000 + rest).substr(1);
        while (fraction.back() == '0')
            fraction.pop_back();
        text += "." + fraction;
    }
    return text + " s";
}

std::string ConnectFailure(const ConnectError &e, std::chrono::milliseconds timeout)
{
    switch (e.Step()) {
    case ConnectStep::Address:
        return e.ErrorNumber() == EAFNOSUPPORT ? "an IPv6 address never connects: give an IPv4 address"
                                               : "not a host name";
    case ConnectStep::Resolve:
        return "cannot resolve the host name";
    case ConnectStep::Connect:
        break;
    }
    switch (e.ErrorNumber()) {
    case ECONNREFUSED:
        return "connection refused";
    case ETIMEDOUT:
        return "no connection within " + Seconds(timeout);
    default:
        return "cannot connect: " + Plain(e.ErrorNumber());
    }
}

// A reply's text as a person can read it in one line.
std::string Printable(std::string_view text)
{
    std::string out;
    for (char c : text) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            out += '?';
        else
            out += c;
    }
    return out;
}

enum class Outcome { Accepted, Rejected, Lapsed, Closed };

struct Answer {
    Outcome outcome = Outcome::Lapsed;
    std::optional<DeviceStatusChars> status;
    std::string taken; // what a rejected reply held
    bool closed = false; // the device has ended the connection, after its reply or instead
};

// One frame and its reply, at the panel's cadence: a look about every 100 ms
// while the reply window lasts. `cut` ends the looks early for a wait that
// has run out.
Answer SendAndLook(TcpClient &client, const std::string &frame, const AbortSignal &stop,
                   std::optional<Clock::time_point> cut)
{
    client.Send(frame, &stop);
    const std::uint32_t sentAt = TickCount();
    for (;;) {
        if (stop.WaitFor(IterationPauseMs))
            throw Stopped{};
        if (!ReplyWindowOpen(TickCount(), sentAt) || (cut && Clock::now() >= *cut))
            return {};
        ReplyLook look = LookForReply(client);
        if (look.taken)
            return look.status ? Answer{Outcome::Accepted, look.status, {}, look.closed}
                               : Answer{Outcome::Rejected, std::nullopt, std::move(look.reply), look.closed};
        if (look.closed)
            return {Outcome::Closed, std::nullopt, {}, true};
    }
}

std::string AnswerFailure(const Answer &answer)
{
    switch (answer.outcome) {
    case Outcome::Rejected:
        return "rejected reply \"" + Printable(answer.taken) + "\"";
    case Outcome::Lapsed:
        return "no reply within " + Seconds(std::chrono::milliseconds(ReplyWindowMs));
    case Outcome::Closed:
        return "the device closed the connection";
    case Outcome::Accepted:
        break;
    }
    return {};
}

void RunOne(TargetResult &result, const Exchange &exchange, Attempt &attempt, const AbortSignal &stop)
{
    TcpClient client(ReplyKeepBytes, exchange.timeout);
    const QString address = QString::fromStdString(result.address);
    attempt.deadline.store((Clock::now() + exchange.timeout).time_since_epoch().count());
    try {
        ConnectToDevice(client,
                        std::u16string_view(reinterpret_cast<const char16_t *>(address.utf16()),
                                            static_cast<std::size_t>(address.size())),
                        exchange.port, &attempt.connectAbort);
    } catch (const ConnectError &e) {
        attempt.deadline.store(0);
        result.error = stop.Signalled() ? "interrupted"
            : attempt.timedOut.load()   ? "no connection within " + Seconds(exchange.timeout)
                                        : ConnectFailure(e, exchange.timeout);
        return;
    }
    attempt.deadline.store(0);

    PendingCommands pending = exchange.pending;
    const auto waitEnd = exchange.wait ? std::optional(Clock::now() + *exchange.wait) : std::nullopt;
    std::optional<Clock::time_point> cut; // the first frame gets its whole reply window
    try {
        for (;;) {
            const Answer answer = SendAndLook(client, ComposeFrame(TakeCommandField(pending)), stop, cut);
            if (answer.status)
                result.status = answer.status;
            if (!waitEnd) {
                result.error = AnswerFailure(answer);
                break;
            }
            if (answer.status && exchange.reached && exchange.reached(ReadDeviceState(*answer.status)))
                break;
            if (answer.closed) {
                result.error = AnswerFailure({Outcome::Closed, std::nullopt, {}, true});
                break;
            }
            if (Clock::now() >= *waitEnd) {
                result.error = result.status
                    ? "did not reach the asked state within " + Seconds(*exchange.wait)
                    : AnswerFailure(answer);
                break;
            }
            // After a reply the next frame follows 200 ms later, after a lapse 100 ms.
            const auto pause = std::chrono::milliseconds(
                answer.outcome == Outcome::Lapsed ? IterationPauseMs : 2 * IterationPauseMs);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*waitEnd - Clock::now());
            if (stop.WaitFor(static_cast<unsigned>(std::max<long long>(0, std::min(pause, left).count()))))
                throw Stopped{};
            cut = waitEnd;
        }
    } catch (const Stopped &) {
        result.error = "interrupted";
    } catch (const SocketError &e) {
        result.error = stop.Signalled() ? "interrupted" : "connection lost: " + Plain(e.ErrorNumber());
    }
    client.Disconnect();
}

} // namespace

std::function<bool(const DeviceState &)> GoalOf(const PendingCommands &pending)
{
    if (pending.PowerCmd == '1' || pending.PowerCmd == '0') {
        const PowerState want = pending.PowerCmd == '1' ? PowerState::On : PowerState::Off;
        return [want](const DeviceState &s) { return s.power == want; };
    }
    if (pending.LampCmd == '1' || pending.LampCmd == '0') {
        const bool want = pending.LampCmd == '1';
        return [want](const DeviceState &s) { return s.lamp == want; };
    }
    if (pending.MuteCmd == '1' || pending.MuteCmd == '0') {
        const bool want = pending.MuteCmd == '1';
        return [want](const DeviceState &s) { return s.mute == want; };
    }
    const int input = pending.InpSelCmd - '0';
    return [input](const DeviceState &s) { return s.input == input; };
}

std::vector<TargetResult> RunTargets(const std::vector<std::string> &targets, const Exchange &exchange,
                                     const AbortSignal &stop)
{
    std::vector<TargetResult> results(targets.size());
    std::vector<std::unique_ptr<Attempt>> attempts;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        results[i].address = targets[i];
        attempts.push_back(std::make_unique<Attempt>());
    }

    std::atomic<std::size_t> next{0};
    std::atomic<bool> done{false};
    // Cuts connects at their deadline, and every one at the stop.
    std::thread watchdog([&] {
        bool stopped = false;
        while (!done.load()) {
            if (!stopped && stop.WaitFor(10)) {
                stopped = true;
                for (auto &attempt : attempts)
                    attempt->connectAbort.Signal();
            }
            if (stopped)
                SleepMs(10);
            const auto now = Clock::now().time_since_epoch().count();
            for (auto &attempt : attempts) {
                const auto deadline = attempt->deadline.load();
                if (deadline != 0 && now >= deadline && !attempt->timedOut.exchange(true))
                    attempt->connectAbort.Signal();
            }
        }
    });
    std::vector<std::thread> workers;
    const std::size_t count = std::min(targets.size(), MaxParallel);
    for (std::size_t w = 0; w < count; ++w)
        workers.emplace_back([&] {
            for (std::size_t i; (i = next.fetch_add(1)) < targets.size();)
                RunOne(results[i], exchange, *attempts[i], stop);
        });
    for (auto &worker : workers)
        worker.join();
    done.store(true);
    watchdog.join();
    return results;
}

} // namespace lumacast::ctl
