#pragma once

#include "broker/BrokerClient.h"
#include "broker/Outbox.h"
#include "platform/AbortSignal.h"
#include "service/Config.h"
#include "service/Log.h"
#include "service/RefusalLog.h"

#include <atomic>
#include <map>
#include <memory>
#include <shared_mutex>
#include <string>
#include <vector>

namespace lumacast {

struct ServiceSettings {
    std::string base = "lumacast2";
    bool homeAssistant = true;
    std::string homeAssistantPrefix = "homeassistant";
    std::string brokerText; // the broker as the log names it
    bool verbose = false;
};

// Every device watched for ever, each by a session on a thread of its own,
// its state and availability published when they change, commands from the
// broker put into its pending commands for the next frame to carry once.
class Service : public BrokerEvents {
public:
    Service(ServiceSettings settings, Log &log);
    ~Service();
    Service(const Service &) = delete;
    Service &operator=(const Service &) = delete;

    // Where the messages go; before the broker starts.
    void Attach(Outbox &outbox) { outbox_ = &outbox; }
    // Starts watching `device`, unless its id or address is watched already
    // (false); throws std::system_error where no thread starts.
    bool AddDevice(const DeviceEntry &device);
    bool WatchesAddress(const std::string &address) const;
    std::size_t DeviceCount() const;
    // Ends every session in order, then says the bridge is offline.
    void Stop();

    void BrokerConnected() override;
    void BrokerLost(const std::string &why, std::chrono::milliseconds retryIn) override;
    void MessageArrived(std::string_view topic, std::string_view payload, bool retained) override;
    void Tick() override;

private:
    class Device;

    void Publish(const std::string &topic, std::string_view payload, bool retain);
    void PublishConfigs(const Device &device);
    void Refuse(std::string_view topic, const std::string &why);
    Device *Find(std::string_view id) const;

    ServiceSettings settings_;
    Log &log_;
    Outbox *outbox_ = nullptr;
    AbortSignal stop_;
    mutable std::shared_mutex listMutex_;
    std::vector<std::unique_ptr<Device>> devices_;
    std::map<std::string, Device *, std::less<>> byId_;
    std::map<std::string, Device *> byAddress_;
    // Only the broker's thread touches these.
    bool brokerUp_ = false;
    std::string brokerFailure_;
    RefusalLog refusals_;
};

} // namespace lumacast
