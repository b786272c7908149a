#include "ctl/ViaService.h"

#include "broker/BrokerClient.h"
#include "ctl/Report.h"
#include "ctl/Targets.h"
#include "ctl/WatchLines.h"
#include "link/DeviceState.h"
#include "link/SessionEnd.h"
#include "platform/AbortSignal.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <random>

namespace lumacast::ctl {
namespace {

using Clock = std::chrono::steady_clock;
constexpr const char *Name = "lumacast2-ctl";
// Retained states come at once after the subscription; this long without
// one, every one has come.
constexpr std::chrono::milliseconds Quiet{300};
const std::string NotWatched = "not watched by the service";
const std::string NoConnection = "the service has no connection to the device";

bool IsId(std::string_view id)
{
    return !id.empty() && id.size() <= 32 && std::all_of(id.begin(), id.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
    });
}

// What the broker tells, kept for the main thread; a watch prints as it comes.
class Listener : public BrokerEvents {
public:
    Listener(const Options &options, WatchLines *lines) : options_(options), lines_(lines) { }

    void SetClient(BrokerClient &client) { client_ = &client; }

    void BrokerConnected() override
    {
        client_->Subscribe(options_.base + "/+/state");
        std::lock_guard lock(mutex_);
        connected_ = true;
        lastNews_ = Clock::now();
        changed_.notify_all();
    }
    void BrokerLost(const std::string &why, std::chrono::milliseconds) override
    {
        std::lock_guard lock(mutex_);
        lost_ = why;
        changed_.notify_all();
    }
    void MessageArrived(std::string_view topic, std::string_view payload, bool) override
    {
        auto device = ReadServiceState(options_.base, topic, payload);
        if (!device)
            return;
        std::lock_guard lock(mutex_);
        auto known = devices_.find(device->id);
        const std::optional<ServiceDevice> before =
            known == devices_.end() ? std::nullopt : std::optional(known->second);
        devices_[device->id] = *device;
        lastNews_ = Clock::now();
        if (lines_ && Watched(*device))
            Tell(before, *device);
        changed_.notify_all();
    }

    // Waits until `done` holds (checked under the lock) or `until`; false on time-out or stop.
    template <typename Done> bool WaitFor(Done done, Clock::time_point until, const AbortSignal &stop)
    {
        std::unique_lock lock(mutex_);
        while (!done()) {
            if (stop.Signalled() || Clock::now() >= until)
                return false;
            changed_.wait_for(lock, std::chrono::milliseconds(20));
        }
        return true;
    }
    bool Connected() const { return connected_; }
    std::string Lost() const { return lost_; }
    Clock::time_point LastNews() const { return lastNews_; }
    const std::map<std::string, ServiceDevice> &DevicesLocked() const { return devices_; }
    // With --once: every device watched has been seen, and has ended.
    bool EveryWatchedEndedLocked() const
    {
        if (options_.all)
            return !devices_.empty() && std::none_of(devices_.begin(), devices_.end(), [](const auto &d) {
                return d.second.connected;
            });
        return std::all_of(options_.targets.begin(), options_.targets.end(), [&](const std::string &t) {
            const ServiceDevice *device = FindLocked(t);
            return device && !device->connected;
        });
    }
    const ServiceDevice *FindLocked(const std::string &target) const
    {
        for (const auto &[id, device] : devices_)
            if (device.address == target || id == target)
                return &device;
        return nullptr;
    }
    std::mutex &Mutex() { return mutex_; }
    bool AnyEnded() const { return ended_ > 0; }

private:
    bool Watched(const ServiceDevice &device) const
    {
        if (options_.all)
            return true;
        return std::any_of(options_.targets.begin(), options_.targets.end(),
                           [&](const std::string &t) { return t == device.address || t == device.id; });
    }
    // A watch's lines from the retained state's changes.
    void Tell(const std::optional<ServiceDevice> &before, const ServiceDevice &now)
    {
        const bool wasUp = before && before->connected;
        if (now.connected && !wasUp)
            lines_->Connected(now.address);
        if (!now.connected && (wasUp || !before)) {
            lines_->Ended(now.address, NoConnection, std::nullopt);
            ++ended_;
        }
        if (now.connected && now.status && (!before || !wasUp || before->status != now.status))
            lines_->State(now.address, ReadDeviceState(*now.status));
    }

    const Options &options_;
    WatchLines *lines_;
    BrokerClient *client_ = nullptr;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool connected_ = false;
    std::string lost_;
    Clock::time_point lastNews_;
    std::map<std::string, ServiceDevice> devices_;
    int ended_ = 0;
};

std::string ClientId()
{
    std::random_device random;
    return "lumacast2-ctl-" + std::to_string(random());
}

} // namespace

std::optional<ServiceDevice> ReadServiceState(std::string_view base, std::string_view topic,
                                              std::string_view payload)
{
    constexpr std::string_view Suffix = "/state";
    if (topic.size() <= base.size() + 1 + Suffix.size() || topic.substr(0, base.size()) != base ||
        topic[base.size()] != '/' || topic.substr(topic.size() - Suffix.size()) != Suffix)
        return std::nullopt;
    const std::string_view id = topic.substr(base.size() + 1, topic.size() - base.size() - 1 - Suffix.size());
    if (!IsId(id))
        return std::nullopt;
    const QJsonDocument json =
        QJsonDocument::fromJson(QByteArray(payload.data(), static_cast<qsizetype>(payload.size())));
    if (!json.isObject())
        return std::nullopt;
    const QJsonObject state = json.object();
    if (!state.value("address").isString() || !state.value("connected").isBool())
        return std::nullopt;
    ServiceDevice device{std::string(id), state.value("address").toString().toStdString(), std::nullopt,
                         state.value("connected").toBool()};
    const QByteArray raw = state.value("raw").toString().toLatin1();
    if (state.value("raw").isString() && raw.size() == 4)
        device.status = DeviceStatusChars{raw[0], raw[1], raw[2], raw[3]};
    return device;
}

ServiceCommand CommandFor(std::string_view base, const std::string &id, const PendingCommands &pending)
{
    const std::string prefix = std::string(base) + "/" + id + "/";
    const auto onOff = [](char slot) { return std::string(slot == '1' ? "ON" : "OFF"); };
    if (pending.PowerCmd == '1' || pending.PowerCmd == '0')
        return {prefix + "power/set", onOff(pending.PowerCmd)};
    if (pending.LampCmd == '1' || pending.LampCmd == '0')
        return {prefix + "lamp/set", onOff(pending.LampCmd)};
    if (pending.MuteCmd == '1' || pending.MuteCmd == '0')
        return {prefix + "mute/set", onOff(pending.MuteCmd)};
    return {prefix + "input/set", std::string(1, pending.InpSelCmd)};
}

namespace {

// The broker's connection, up or told why not.
class Session {
public:
    Session(const Options &options, WatchLines *lines, std::ostream &err, AbortSignal &stop)
        : options_(options), listener_(options, lines), err_(err), stop_(stop)
    {
        url_ = ReadBrokerUrl(*options.broker, why_);
        BrokerSettings settings;
        settings.url = url_.value_or(BrokerUrl{});
        settings.clientId = ClientId();
        settings.keepAliveS = 30;
        client_ = std::make_unique<BrokerClient>(settings, listener_);
        listener_.SetClient(*client_);
        client_->Start();
        deadline_ = Clock::now() + options.timeout;
    }
    ~Session() { client_->Stop(std::chrono::milliseconds(1000)); }

    bool Up()
    {
        if (!url_) {
            err_ << Name << ": " << *options_.broker << ": " << why_ << '\n';
            return false;
        }
        if (listener_.WaitFor([&] { return listener_.Connected(); }, deadline_, stop_))
            return true;
        err_ << Name << ": "
             << (stop_.Signalled() ? "interrupted"
                                   : "cannot reach the broker " + url_->Text() +
                         (listener_.Lost().empty() ? "" : ": " + listener_.Lost()))
             << '\n';
        return false;
    }
    Listener &Heard() { return listener_; }
    BrokerClient &Client() { return *client_; }
    Clock::time_point Deadline() const { return deadline_; }

private:
    const Options &options_;
    Listener listener_;
    std::ostream &err_;
    AbortSignal &stop_;
    std::string why_;
    std::optional<BrokerUrl> url_;
    std::unique_ptr<BrokerClient> client_;
    Clock::time_point deadline_;
};

} // namespace

int WatchViaService(const Options &options, std::ostream &out, std::ostream &err, AbortSignal &stop)
{
    WatchLines lines(out, options.json, stop);
    Session session(options, &lines, err, stop);
    if (!session.Up())
        return ExitFailed;
    Listener &heard = session.Heard();
    // Until the stop, or with --once until every device watched has ended.
    heard.WaitFor([&] { return options.once && heard.EveryWatchedEndedLocked(); }, Clock::time_point::max(),
                  stop);
    if (lines.ToldFailure(err))
        return ExitFailed;
    return options.once && heard.AnyEnded() ? ExitFailed : ExitOk;
}

std::optional<std::vector<TargetResult>> ServiceTargets(const Options &options, std::ostream &err,
                                                        AbortSignal &stop)
{
    Session session(options, nullptr, err, stop);
    if (!session.Up())
        return std::nullopt;
    Listener &heard = session.Heard();
    // Every retained state has come once the topic has been quiet a while,
    // or once every target named has been found.
    heard.WaitFor(
        [&] {
            if (!options.all &&
                std::all_of(options.targets.begin(), options.targets.end(),
                            [&](const std::string &t) { return heard.FindLocked(t); }))
                return true;
            return Clock::now() - heard.LastNews() >= Quiet;
        },
        session.Deadline(), stop);

    std::vector<TargetResult> results;
    std::vector<std::string> ids;
    {
        std::lock_guard lock(heard.Mutex());
        std::vector<std::string> targets = options.targets;
        if (options.all)
            for (const auto &[id, device] : heard.DevicesLocked())
                targets.push_back(device.address);
        for (const std::string &target : targets) {
            TargetResult result;
            result.address = target;
            const ServiceDevice *device = heard.FindLocked(target);
            ids.push_back(device ? device->id : std::string());
            if (device)
                result.status = device->status;
            result.error = !device ? NotWatched : !device->connected ? NoConnection : std::string();
            results.push_back(result);
        }
    }
    if (options.all && results.empty()) {
        err << Name << ": the service watches no device\n";
        return std::nullopt;
    }
    if (options.command == Command::Status)
        return results;

    for (std::size_t i = 0; i < results.size(); ++i)
        if (!ids[i].empty()) {
            const ServiceCommand command = CommandFor(options.base, ids[i], options.pending);
            session.Client().PublishOnce(command.topic, command.payload);
        }
    if (!options.wait)
        return results;
    const auto goal = GoalOf(options.pending);
    const auto reached = [&](std::size_t i) {
        const ServiceDevice *device = heard.FindLocked(results[i].address);
        return device && device->connected && device->status && goal(ReadDeviceState(*device->status));
    };
    heard.WaitFor(
        [&] {
            for (std::size_t i = 0; i < results.size(); ++i)
                if (!ids[i].empty() && !reached(i))
                    return false;
            return true;
        },
        Clock::now() + *options.wait, stop);
    std::lock_guard lock(heard.Mutex());
    for (std::size_t i = 0; i < results.size(); ++i) {
        if (ids[i].empty())
            continue;
        const ServiceDevice *device = heard.FindLocked(results[i].address);
        results[i].status = device->status;
        results[i].error = reached(i) ? std::string()
            : stop.Signalled()        ? std::string("interrupted")
            : device->connected       ? "did not reach the asked state within " + SecondsText(*options.wait)
                                      : NoConnection;
    }
    return results;
}

} // namespace lumacast::ctl
