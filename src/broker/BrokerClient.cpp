#include "broker/BrokerClient.h"

#include <mosquitto.h>

#include <cerrno>
#include <mutex>
#include <stdexcept>
#include <system_error>

namespace lumacast {
namespace {

constexpr int LoopWaitMs = 250;

std::string ErrorText(int rc, int errorNumber)
{
    if (rc == MOSQ_ERR_ERRNO)
        return std::generic_category().message(errorNumber);
    if (rc == MOSQ_ERR_EAI)
        return "the broker's host name was not found";
    if (rc == MOSQ_ERR_TLS)
        return "the TLS handshake failed (is the CA file the broker's?)";
    // "The connection was lost." -> "the connection was lost"
    std::string text = mosquitto_strerror(rc);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    if (!text.empty() && text.front() >= 'A' && text.front() <= 'Z')
        text.front() = static_cast<char>(text.front() - 'A' + 'a');
    return text;
}

// "Connection Refused: not authorised." -> "refused: not authorised"
std::string RefusalText(int rc, MqttVersion version)
{
    std::string text =
        version == MqttVersion::V5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc);
    if (const auto colon = text.find(": "); colon != std::string::npos)
        text.erase(0, colon + 2);
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    for (char &c : text)
        c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    return "refused: " + text;
}

const char *OrNull(const std::string &text)
{
    return text.empty() ? nullptr : text.c_str();
}

} // namespace

BrokerClient::BrokerClient(BrokerSettings settings, BrokerEvents &events)
    : settings_(std::move(settings)), events_(events)
{
    static std::once_flag init;
    std::call_once(init, [] { mosquitto_lib_init(); });
    mosq_ = mosquitto_new(settings_.clientId.c_str(), true, this);
    if (mosq_ == nullptr)
        throw std::runtime_error("cannot make the broker's client: " +
                                 std::generic_category().message(errno));
    mosquitto_threaded_set(mosq_, true);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                         settings_.version == MqttVersion::V5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
    mosquitto_int_option(mosq_, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_callback_set(mosq_, &BrokerClient::OnConnect);
    mosquitto_message_callback_set(mosq_, &BrokerClient::OnMessage);
    if (!settings_.username.empty())
        mosquitto_username_pw_set(mosq_, settings_.username.c_str(), OrNull(settings_.password));
    if (!settings_.willTopic.empty())
        mosquitto_will_set(mosq_, settings_.willTopic.c_str(), 7, "offline", 1, true);
    if (settings_.url.tls) {
        const int rc = mosquitto_tls_set(mosq_, OrNull(settings_.caFile),
                                         settings_.caFile.empty() ? "/etc/ssl/certs" : nullptr,
                                         OrNull(settings_.certFile), OrNull(settings_.keyFile), nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            mosquitto_destroy(mosq_);
            throw std::runtime_error("cannot use the TLS files (ca-file, cert-file, key-file): " +
                                     ErrorText(rc, errno));
        }
    }
}

BrokerClient::~BrokerClient()
{
    if (thread_.joinable())
        Stop(std::chrono::milliseconds(0));
    mosquitto_destroy(mosq_);
}

void BrokerClient::Start()
{
    thread_ = std::thread([this] { Loop(); });
}

void BrokerClient::Stop(std::chrono::milliseconds limit)
{
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
        stopBy_ = std::chrono::steady_clock::now() + limit;
    }
    wake_.notify_all();
    // Queued after every message published before, so those reach the broker first.
    if (up_)
        mosquitto_disconnect(mosq_);
    if (thread_.joinable())
        thread_.join();
}

bool BrokerClient::Wait(std::chrono::milliseconds ms)
{
    std::unique_lock lock(mutex_);
    return wake_.wait_for(lock, ms, [this] { return stop_; });
}

void BrokerClient::Publish(const std::string &topic, std::string_view payload, bool retain)
{
    // Retained state goes at QoS 0: in order with everything else, and a
    // message lost with the connection is published afresh on the next.
    if (up_)
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 0,
                          retain);
}

void BrokerClient::PublishOnce(const std::string &topic, std::string_view payload)
{
    if (up_)
        mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()), payload.data(), 1,
                          false);
}

void BrokerClient::Subscribe(const std::string &pattern)
{
    if (up_)
        mosquitto_subscribe(mosq_, nullptr, pattern.c_str(), 1);
}

void BrokerClient::OnConnect(mosquitto *, void *self, int rc)
{
    auto &client = *static_cast<BrokerClient *>(self);
    client.refusal_ = rc;
    if (rc != 0)
        return;
    client.backoff_.Reset();
    client.up_ = true;
    client.events_.BrokerConnected();
}

void BrokerClient::OnMessage(mosquitto *, void *self, const mosquitto_message *message)
{
    auto &client = *static_cast<BrokerClient *>(self);
    client.events_.MessageArrived(message->topic,
                                  std::string_view(static_cast<const char *>(message->payload),
                                                   static_cast<std::size_t>(message->payloadlen)),
                                  message->retain);
}

void BrokerClient::Loop()
{
    const auto stopping = [this](bool connected) {
        std::lock_guard lock(mutex_);
        return stop_ && (!connected || std::chrono::steady_clock::now() >= stopBy_);
    };
    const auto lost = [this](const std::string &why) {
        const auto wait = backoff_.Next();
        events_.BrokerLost(why, wait);
        return Wait(wait);
    };
    bool open = false;
    bool first = true;
    for (;;) {
        if (!open) {
            if (stopping(false))
                return;
            refusal_ = 0;
            const int rc = first ? mosquitto_connect_async(mosq_, settings_.url.host.c_str(),
                                                           settings_.url.port, settings_.keepAliveS)
                                 : mosquitto_reconnect_async(mosq_);
            first = false;
            if (rc != MOSQ_ERR_SUCCESS) {
                if (lost(ErrorText(rc, errno)))
                    return;
                continue;
            }
            open = true;
        }
        const int rc = mosquitto_loop(mosq_, LoopWaitMs, 1);
        const int errorNumber = errno;
        events_.Tick();
        if (rc == MOSQ_ERR_SUCCESS) {
            if (stopping(up_))
                return;
            continue;
        }
        open = false;
        up_ = false;
        if (stopping(false))
            return;
        if (lost(refusal_ != 0 ? RefusalText(refusal_, settings_.version) : ErrorText(rc, errorNumber)))
            return;
    }
}

} // namespace lumacast
