#pragma once

#include "broker/BrokerUrl.h"
#include "broker/Outbox.h"
#include "link/Watch.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

struct mosquitto;
struct mosquitto_message;

namespace lumacast {

// What the broker's connection tells, on its own thread.
class BrokerEvents {
public:
    // Connected and accepted: subscribe and publish here.
    virtual void BrokerConnected() = 0;
    // Lost, refused or not reached; the next try follows after `retryIn`.
    virtual void BrokerLost(const std::string &why, std::chrono::milliseconds retryIn) = 0;
    virtual void MessageArrived(std::string_view topic, std::string_view payload, bool retained) = 0;
    // About four times a second, whatever happens.
    virtual void Tick() { }

protected:
    ~BrokerEvents() = default;
};

struct BrokerSettings {
    BrokerUrl url;
    std::string username;
    std::string password;
    std::string caFile;
    std::string certFile;
    std::string keyFile;
    std::string clientId;
    int keepAliveS = 60;
    MqttVersion version = MqttVersion::V311;
    std::string willTopic; // "offline", retained, when the connection dies
};

// The broker's connection through libmosquitto, the client library of
// Debian's own broker: a small C API that is safe to publish through from
// every device's thread, TLS, MQTT 3.1.1 and 5, a last will, and well kept.
// Its loop runs on a thread of this class rather than the library's own,
// since that one gives up for good on some refusals (a bad password under
// MQTT 5, a failed TLS handshake, a failed lookup) where a service must try
// again with a back-off for ever.
class BrokerClient : public Outbox {
public:
    // Throws std::runtime_error where the settings cannot be used (a TLS
    // file that cannot be read).
    BrokerClient(BrokerSettings settings, BrokerEvents &events);
    ~BrokerClient();
    BrokerClient(const BrokerClient &) = delete;
    BrokerClient &operator=(const BrokerClient &) = delete;

    void Start();
    // Sends what was published before, then ends the connection in order,
    // so no last will follows; waits at most `limit`.
    void Stop(std::chrono::milliseconds limit);

    void Publish(const std::string &topic, std::string_view payload, bool retain) override;
    // At QoS 1, for a command that must arrive once the connection stands.
    void PublishOnce(const std::string &topic, std::string_view payload);
    void Subscribe(const std::string &pattern) override;

private:
    void Loop();
    bool Wait(std::chrono::milliseconds ms);
    static void OnConnect(mosquitto *mosq, void *self, int rc);
    static void OnMessage(mosquitto *mosq, void *self, const mosquitto_message *message);

    BrokerSettings settings_;
    BrokerEvents &events_;
    mosquitto *mosq_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::chrono::steady_clock::time_point stopBy_;
    std::atomic<bool> up_{false};
    // Only the loop's thread touches these two.
    int refusal_ = 0; // the broker's answer to the last connect
    Backoff backoff_;
};

} // namespace lumacast
