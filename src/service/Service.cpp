#include "service/Service.h"

#include "link/DeviceExchange.h"
#include "link/Watch.h"
#include "service/Command.h"
#include "service/HomeAssistant.h"
#include "service/StateJson.h"

#include <mutex>
#include <thread>

namespace lumacast {
namespace {

std::string CarriedWords(const std::string &field)
{
    static const char *const items[] = {"power", "lamp", "mute"};
    std::string words;
    for (std::size_t i = 0; i < 3 && i < field.size(); ++i)
        if (field[i] == '0' || field[i] == '1')
            words += (words.empty() ? "" : ", ") + std::string(items[i]) + (field[i] == '1' ? " on" : " off");
    if (field.size() > 3 && field[3] >= '1' && field[3] < '1' + InputCount)
        words += (words.empty() ? "input " : ", input ") + std::string(1, field[3]);
    return words;
}

// A wait as a person reads it, to a tenth of a second.
std::string RetryText(std::chrono::milliseconds wait)
{
    return SecondsText(std::chrono::milliseconds((wait.count() + 50) / 100 * 100));
}

} // namespace

class Service::Device final : public WatchEvents {
public:
    Device(const DeviceEntry &entry, Service &service)
        : entry_(entry), service_(service), prefix_(service.settings_.base + "/" + entry.id + "/"),
          who_(entry.id + " (" + entry.address + ")"), since_(std::chrono::system_clock::now())
    {
        if (service.settings_.homeAssistant)
            configs_ = DiscoveryConfigs(entry, service.settings_.base, service.settings_.homeAssistantPrefix);
    }

    void Start()
    {
        thread_ = std::thread([this] {
            DeviceSession session(AddressText(entry_.address), SessionSettings{}, *this, service_.stop_,
                                  &service_.stop_);
            KeepWatching(session, *this, service_.stop_, false);
        });
    }

    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }

    void Queue(const Command &command)
    {
        std::lock_guard lock(mutex_);
        pending_.*command.slot = command.value;
    }

    // What the broker holds of it, afresh.
    void PublishAll()
    {
        std::lock_guard lock(mutex_);
        PublishLocked(true);
    }

    const DeviceEntry &Entry() const { return entry_; }
    const std::vector<TopicMessage> &Configs() const { return configs_; }

private:
    void Connected() override { service_.log_.Line(who_ + ": connected"); }

    std::string NextCommandField() override
    {
        std::string field;
        {
            std::lock_guard lock(mutex_);
            // No reply within the window: the device is not there for anyone.
            if (online_ && TickCount() - replyTick_ >= ReplyWindowMs)
                SetOnline(false);
            field = TakeCommandField(pending_);
        }
        if (service_.settings_.verbose && field.find_first_not_of(' ') != std::string::npos)
            service_.log_.Line(who_ + ": carried " + CarriedWords(field));
        return field;
    }

    void StateAccepted(const DeviceState &state) override
    {
        std::lock_guard lock(mutex_);
        replyTick_ = TickCount();
        if (online_ && state_ == state)
            return;
        const bool availability = !online_;
        state_ = state;
        online_ = true;
        since_ = std::chrono::system_clock::now();
        PublishLocked(availability);
    }

    void Ended(const SessionEnd &end, std::optional<std::chrono::milliseconds> retryIn) override
    {
        {
            std::lock_guard lock(mutex_);
            if (online_)
                SetOnline(false);
        }
        if (!retryIn)
            return;
        const std::string words = EndWords(end);
        // A device that stays away is told once, not at every try.
        if (end.connected || words != failure_)
            service_.log_.Line(who_ + (end.connected ? ": lost: " : ": not reached: ") + words +
                               "; next try in " + RetryText(*retryIn));
        failure_ = end.connected ? std::string() : words;
    }

    void SetOnline(bool online)
    {
        online_ = online;
        since_ = std::chrono::system_clock::now();
        PublishLocked(true);
    }

    void PublishLocked(bool availability)
    {
        service_.Publish(prefix_ + "state", StateJson(entry_.address, state_, online_, since_), true);
        if (availability)
            service_.Publish(prefix_ + "availability", online_ ? "online" : "offline", true);
    }

    const DeviceEntry entry_;
    Service &service_;
    const std::string prefix_;
    const std::string who_;
    std::vector<TopicMessage> configs_;
    std::thread thread_;
    std::string failure_; // the words of the last failure told; only the device's thread

    std::mutex mutex_; // guards what follows, between the device's thread and the broker's
    PendingCommands pending_;
    std::optional<DeviceState> state_;
    bool online_ = false;
    std::uint32_t replyTick_ = 0;
    std::chrono::system_clock::time_point since_;
};

Service::Service(ServiceSettings settings, Log &log) : settings_(std::move(settings)), log_(log) { }

Service::~Service()
{
    Stop();
}

bool Service::AddDevice(const DeviceEntry &entry)
{
    Device *device = nullptr;
    {
        std::unique_lock lock(listMutex_);
        if (byId_.count(entry.id) != 0 || byAddress_.count(AddressKey(entry.address)) != 0)
            return false;
        devices_.push_back(std::make_unique<Device>(entry, *this));
        device = devices_.back().get();
        byId_[entry.id] = device;
        byAddress_[AddressKey(entry.address)] = device;
        device->Start();
    }
    // Where the broker was connected before, this device missed its turn.
    PublishConfigs(*device);
    device->PublishAll();
    return true;
}

bool Service::WatchesAddress(const std::string &address) const
{
    std::shared_lock lock(listMutex_);
    return byAddress_.count(AddressKey(address)) != 0;
}

std::size_t Service::DeviceCount() const
{
    std::shared_lock lock(listMutex_);
    return devices_.size();
}

void Service::Stop()
{
    if (stop_.Signalled())
        return;
    stop_.Signal();
    std::shared_lock lock(listMutex_);
    for (auto &d : devices_)
        d->Join();
    Publish(settings_.base + "/bridge/availability", "offline", true);
}

Service::Device *Service::Find(std::string_view id) const
{
    std::shared_lock lock(listMutex_);
    const auto it = byId_.find(id);
    return it == byId_.end() ? nullptr : it->second;
}

void Service::Publish(const std::string &topic, std::string_view payload, bool retain)
{
    if (outbox_ != nullptr)
        outbox_->Publish(topic, payload, retain);
}

void Service::PublishConfigs(const Device &device)
{
    for (const TopicMessage &m : device.Configs())
        Publish(m.topic, m.payload, true);
}

void Service::BrokerConnected()
{
    log_.Line("broker " + settings_.brokerText + ": connected");
    brokerUp_ = true;
    brokerFailure_.clear();
    outbox_->Subscribe(settings_.base + "/+/+/set");
    if (settings_.homeAssistant) {
        outbox_->Subscribe(settings_.homeAssistantPrefix + "/status");
        // The retained configurations of this base tell which devices are gone.
        outbox_->Subscribe(ConfigPattern(settings_.base, settings_.homeAssistantPrefix));
    }
    {
        std::shared_lock lock(listMutex_);
        for (auto &d : devices_) {
            PublishConfigs(*d);
            d->PublishAll();
        }
    }
    Publish(settings_.base + "/bridge/availability", "online", true);
}

void Service::BrokerLost(const std::string &why, std::chrono::milliseconds retryIn)
{
    // A broker that stays away or keeps refusing is told once, not at every try.
    if (brokerUp_ || why != brokerFailure_)
        log_.Line("broker " + settings_.brokerText + (brokerUp_ ? ": lost: " : ": ") + why +
                  "; next try in " + RetryText(retryIn) + ", and on with a back-off up to " +
                  SecondsText(Backoff::Longest));
    brokerUp_ = false;
    brokerFailure_ = why;
}

void Service::MessageArrived(std::string_view topic, std::string_view payload, bool retained)
{
    const std::string &prefix = settings_.homeAssistantPrefix;
    if (settings_.homeAssistant && topic.size() > prefix.size() && topic.starts_with(prefix) &&
        topic[prefix.size()] == '/') {
        if (topic.substr(prefix.size()) == "/status") {
            if (payload == "online") {
                std::shared_lock lock(listMutex_);
                for (auto &d : devices_)
                    PublishConfigs(*d);
            }
            return;
        }
        const std::string id = IdOfConfigTopic(topic, settings_.base, prefix);
        if (!id.empty() && !payload.empty() && Find(id) == nullptr) {
            // A device no longer configured: its entities and its topics go.
            Publish(std::string(topic), "", true);
            Publish(settings_.base + "/" + id + "/state", "", true);
            Publish(settings_.base + "/" + id + "/availability", "", true);
        }
        return;
    }
    std::string_view id;
    std::string_view item;
    if (!SplitCommandTopic(settings_.base, topic, id, item)) {
        Refuse(topic, "not a command topic");
        return;
    }
    Device *device = Find(id);
    if (device == nullptr) {
        Refuse(topic, "no device '" + LogText(id) + "' is watched");
        return;
    }
    if (retained) {
        // Kept by the broker from some time before: not a command of now.
        Refuse(topic, "a retained command is not carried");
        return;
    }
    std::string why;
    const auto command = ReadCommand(item, payload, device->Entry().inputs, why);
    if (!command) {
        Refuse(topic, why);
        return;
    }
    device->Queue(*command);
}

void Service::Refuse(std::string_view topic, const std::string &why)
{
    const auto now = RefusalLog::Clock::now();
    if (const int held = refusals_.Held(now))
        log_.Line(std::to_string(held) + " more refused commands in a second, not told one by one");
    if (refusals_.Take(now))
        log_.Line("refused " + LogText(topic) + ": " + why);
}

void Service::Tick()
{
    if (const int held = refusals_.Held(RefusalLog::Clock::now()))
        log_.Line(std::to_string(held) + " more refused commands in a second, not told one by one");
}

} // namespace lumacast
